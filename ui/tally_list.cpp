#include "tally_list.h"

#include "fitted_font.h"

#include <QHash>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

// Beside the whole line (the display role), each item keeps its two parts.
constexpr int kNameRole = Qt::UserRole;
constexpr int kCountRole = Qt::UserRole + 1;

// Shown for a control character: one column of the fixed-pitch faces, in
// Lucida Console as in the fallbacks.
constexpr char16_t kPlaceholder = u'\u25A1';

// `name` as the list shows it: the placeholder for each character that shows
// nothing of its own, a control character (a tab would jump to a tab stop) or
// an explicit direction mark (U+202A to U+202E, U+2066 to U+2069), which would
// change the direction of the text after it, beyond the name.
QString visibleName(QString name)
{
    for (QChar &c : name) {
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || (u >= 0x202A && u <= 0x202E)
            || (u >= 0x2066 && u <= 0x2069))
            c = QChar(kPlaceholder);
    }
    return name;
}

// `name` as it shows, set apart from what follows it in one text when it holds
// right-to-left letters, so that it keeps its own order and never carries the
// "-" and the count along into it.
QString isolatedName(const QString &name)
{
    const QString visible = visibleName(name);
    for (const char32_t c : visible.toUcs4())
        if (QChar::direction(c) == QChar::DirR || QChar::direction(c) == QChar::DirAL)
            return QChar(u'\u2068') + visible + QChar(u'\u2069'); // FSI ... PDI
    return visible;
}

// One TallyLine as a list item: its whole line, its parts and what a screen reader says.
class TallyItem : public QListWidgetItem {
public:
    explicit TallyItem(const TallyLine &line)
        : QListWidgetItem(line.whole, nullptr, UserType), m_line(line)
    {
    }

    void setLine(const TallyLine &line)
    {
        m_line = line;
        // Setting the whole line, which changes with any part of it, tells the
        // list and a screen reader of the change once.
        setData(Qt::DisplayRole, line.whole);
    }

    QVariant data(int role) const override
    {
        if (role == kNameRole)
            return m_line.name;
        if (role == kCountRole)
            return m_line.count;
        // The name and the count, without the padding and sign position that
        // only line the column up ("Quiz, -5").
        if (role == Qt::AccessibleTextRole)
            return isolatedName(m_line.name) + QStringLiteral(", ") + m_line.count.mid(1).trimmed();
        return QListWidgetItem::data(role);
    }

private:
    TallyLine m_line;
};

// WCAG's relative luminance of an sRGB colour.
qreal luminance(const QColor &colour)
{
    const auto linear
        = [](qreal c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF())
        + 0.0722 * linear(colour.blueF());
}

// The colour text is drawn in on `background`: `preferred` where it is
// readable there, otherwise black or white, whichever contrasts more.
QColor readableOn(const QColor &background, const QColor &preferred)
{
    if (contrastRatio(preferred, background) >= kReadableContrast)
        return preferred;
    const bool black = contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background);
    return black ? Qt::black : Qt::white;
}

} // namespace

qreal contrastRatio(const QColor &a, const QColor &b)
{
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// Draws each entry line in one fixed row height and the list's row font: the
// name in its own direction, then the "-" and count left to right.
class EntryDelegate : public QStyledItemDelegate {
public:
    EntryDelegate(int rowHeight, TallyList *list)
        : QStyledItemDelegate(list), m_rowHeight(rowHeight), m_list(list)
    {
    }

    TallyList::Shown shown(QStyleOptionViewItem option, const QModelIndex &index) const
    {
        initStyleOption(&option, index);
        return layOutRow(option, index, textRoom(option));
    }

    // Rows span the list whatever their text, so the hint needs no text
    // measured, and no font loaded, to lay the list out.
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return QSize(1, m_rowHeight);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QRectF room = textRoom(opt);
        const TallyList::Shown line = layOutRow(opt, index, room);

        // The row's background and selection, without text or the style's
        // focus frame, which some styles draw too faint to be seen. A
        // selection with less than 3:1 against the list (Windows' grey when
        // unfocused) is painted in the palette's focused highlight instead.
        opt.text.clear();
        const bool focused = opt.state.testFlag(QStyle::State_HasFocus);
        opt.state &= ~QStyle::State_HasFocus;
        const QStyle *style = m_list->style();
        const QPalette::ColorGroup group = !opt.state.testFlag(QStyle::State_Enabled)
            ? QPalette::Disabled
            : opt.state.testFlag(QStyle::State_Active) ? QPalette::Normal
                                                       : QPalette::Inactive;
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        QColor paper = painted(opt, style);
        if (selected
            && contrastRatio(paper, opt.palette.color(QPalette::Base)) < kVisibleContrast) {
            paper = opt.palette.color(QPalette::Normal, QPalette::Highlight);
            painter->fillRect(opt.rect, paper);
        } else {
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        }
        const QColor ink = readableOn(
            paper, opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->save();
        painter->setPen(ink);
        // The focus shows in the ink around the current line once one is
        // selected; until then a frame there would look like a selection
        // that Add does not see, and the list frames its edge instead.
        if (focused && m_list->selectionModel()->hasSelection())
            painter->drawRect(opt.rect.adjusted(1, 1, -2, -2));
        painter->setFont(opt.font);
        painter->setClipRect(room);
        QTextOption text(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter);
        text.setWrapMode(QTextOption::NoWrap);
        // The name alone runs in the direction its first letter gives it.
        text.setTextDirection(line.name.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        painter->drawText(
            QRectF(room.left(), room.top(), line.dash, room.height()), line.name, text);
        text.setTextDirection(Qt::LeftToRight);
        painter->drawText(
            room.adjusted(line.dash, 0, 0, 0), index.data(kCountRole).toString(), text);
        painter->restore();
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override
    {
        if (event->type() == QEvent::ToolTip && index.isValid() && shown(option, index).shortened) {
            // The whole line, its padding taken from the table's line.
            const QString name = index.data(kNameRole).toString();
            const QString rest = index.data().toString().mid(name.size());
            QToolTip::showText(event->globalPos(), isolatedName(name) + rest, view, option.rect);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->font = m_list->rowFont();
        option->fontMetrics = QFontMetrics(option->font);
    }

private:
    // The background the style paints for a row drawn with `option`, as the
    // eye sees it: styles paint their own highlight (Windows' pale blue), not
    // always the palette's. Painted once for each look a row can have.
    QColor painted(const QStyleOptionViewItem &option, const QStyle *style) const
    {
        const QStyle::State states = QStyle::State_Selected | QStyle::State_MouseOver
            | QStyle::State_Active | QStyle::State_Enabled;
        const QString key = QString::asprintf("%p %d %dx%d %lld", static_cast<const void *>(style),
            int(option.state & states), option.rect.width(), option.rect.height(),
            option.palette.cacheKey());
        if (const auto found = m_painted.constFind(key); found != m_painted.cend())
            return *found;
        QStyleOptionViewItem row = option;
        row.rect = QRect(QPoint(), option.rect.size());
        QImage image(row.rect.size(), QImage::Format_RGB32);
        image.fill(option.palette.color(QPalette::Base));
        QPainter painter(&image);
        style->drawControl(QStyle::CE_ItemViewItem, &row, &painter, option.widget);
        painter.end();
        // The colour painted most often: the row's highlight, without its
        // edges, focus frame or gradient's ends weighing much.
        QHash<QRgb, int> seen;
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
        for (qsizetype i = 0; i < image.width() * image.height(); ++i)
            ++seen[pixels[i]];
        return *m_painted.insert(
            key, QColor(seen.key(*std::max_element(seen.cbegin(), seen.cend()))));
    }

    // Where the name and the "-" of the row of `index` go in `room`, the text
    // room of `option`, whose style options are set. The "-" stands where a
    // name of 13 single-column characters would put it, or right after a wider
    // name. A line wider than the room keeps its count: the padding goes
    // first, then the end of the name, replaced by "…".
    static TallyList::Shown layOutRow(
        const QStyleOptionViewItem &option, const QModelIndex &index, const QRectF &room)
    {
        const QFontMetricsF metrics(option.font);
        const QString name = visibleName(index.data(kNameRole).toString());
        const qreal column = metrics.horizontalAdvance(QString(13, QLatin1Char(' ')));
        const qreal nameRoom
            = room.width() - metrics.horizontalAdvance(index.data(kCountRole).toString());
        const qreal nameWidth = metrics.horizontalAdvance(name);
        const qreal dash = qMax(column, nameWidth);
        if (nameWidth <= nameRoom)
            return {name, qMin(dash, nameRoom), dash > nameRoom};
        const QString shortened = metrics.elidedText(name, Qt::ElideRight, nameRoom);
        return {shortened, metrics.horizontalAdvance(shortened), true};
    }

    // The room the style leaves the text: the text rectangle less the margin
    // it keeps on either side.
    QRectF textRoom(const QStyleOptionViewItem &option) const
    {
        const QStyle *style = m_list->style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
        return QRectF(style->subElementRect(QStyle::SE_ItemViewItemText, &option, m_list)
                          .adjusted(margin, 0, -margin, 0));
    }

    int m_rowHeight;
    const TallyList *m_list;
    mutable QHash<QString, QColor> m_painted;
};

TallyList::TallyList(int rows, int rowHeight, QWidget *parent)
    : QListWidget(parent), m_rows(rows), m_rowHeight(rowHeight)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setItemDelegate(new EntryDelegate(rowHeight, this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The room between the frame and the rows is painted like the rows.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void TallyList::setLines(const QList<TallyLine> &lines)
{
    clear();
    for (const TallyLine &line : lines)
        addItem(new TallyItem(line));
}

void TallyList::setLine(int row, const TallyLine &line)
{
    if (auto *changed = dynamic_cast<TallyItem *>(item(row)))
        changed->setLine(line);
}

void TallyList::selectLine(int row)
{
    // A line already current and selected stays so: choosing it again would
    // tell a screen reader of a change that is none.
    if (currentRow() != row || !item(row)->isSelected())
        setCurrentRow(row);
    scrollToItem(item(row));
}

TallyList::Shown TallyList::shownLine(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = indexFromItem(item(row));
    option.rect = visualRect(index);
    return static_cast<EntryDelegate *>(itemDelegate())->shown(option, index);
}

QFont TallyList::rowFont() const
{
    if (!m_rowFont)
        m_rowFont = fontWithLineWithin(font(), m_rowHeight);
    return *m_rowFont;
}

QItemSelectionModel::SelectionFlags TallyList::selectionCommand(
    const QModelIndex &index, const QEvent *event) const
{
    // A click on the blank space below the lines, or Ctrl with the selected
    // line, would clear the selection, and the next Add would count nothing.
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid() || command.testFlag(QItemSelectionModel::Deselect))
        return QItemSelectionModel::NoUpdate;
    return command;
}

void TallyList::keyPressEvent(QKeyEvent *event)
{
    // With no line selected, the list's current line is the first one, and
    // Down would move on from it before anything was chosen: the first move
    // selects the first line (the last, for End) instead.
    const int key = event->key();
    if (selectedItems().isEmpty() && count() > 0
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier
        && (key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_Home
            || key == Qt::Key_End)) {
        selectLine(key == Qt::Key_End ? count() - 1 : 0);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TallyList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (hasFocus() && !selectionModel()->hasSelection()) {
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::Text));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}

void TallyList::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        m_rowFont.reset();
    QListWidget::changeEvent(event);
}

void TallyList::resizeEvent(QResizeEvent *event)
{
    // What the frame leaves beyond whole rows becomes an even margin around
    // them, so the list never shows part of a row.
    const int spare = qMax(0, height() - 2 * frameWidth() - m_rows * m_rowHeight);
    const int margin = spare / 2;
    setViewportMargins(margin, margin, margin, spare - margin);
    QListWidget::resizeEvent(event);
}
