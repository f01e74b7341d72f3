#include "tally_list.h"

#include "fitted_font.h"

#include <QApplication>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// `line` made to fit `room` pixels. An entry line ends in its count ("-", a
// sign position and digits), which must stay readable: the padding before it
// goes first, since it only lines up the dashes, then the end of the name,
// replaced by "…". Other text is left for the style to shorten.
QString fitEntryLine(const QString &line, const QFontMetricsF &metrics, qreal room)
{
    if (metrics.horizontalAdvance(line) <= room)
        return line;
    qsizetype split = line.size();
    while (split > 0 && isAsciiDigit(line.at(split - 1)))
        --split;
    split -= 2;
    if (split < 0 || split == line.size() - 2 || line.at(split) != QLatin1Char('-')
        || (line.at(split + 1) != QLatin1Char(' ') && line.at(split + 1) != QLatin1Char('-')))
        return line;
    const QString count = line.mid(split);
    const qreal nameRoom = room - metrics.horizontalAdvance(count);
    QString name = line.left(split);
    while (name.endsWith(QLatin1Char(' ')) && metrics.horizontalAdvance(name) > nameRoom)
        name.chop(1);
    if (metrics.horizontalAdvance(name) > nameRoom)
        name = metrics.elidedText(name, Qt::ElideRight, nameRoom);
    return name + count;
}

} // namespace

// Draws each entry line in one fixed row height and the list's row font,
// shortened by fitEntryLine() where the list is too narrow for it; the item
// keeps its whole line, which is what a screen reader reads and what the
// tooltip shows.
class EntryDelegate : public QStyledItemDelegate {
public:
    EntryDelegate(int rowHeight, TallyList *list)
        : QStyledItemDelegate(list), m_rowHeight(rowHeight), m_list(list)
    {
    }

    // The text the row of `index` shows when drawn with `option`.
    QString shownText(QStyleOptionViewItem option, const QModelIndex &index) const
    {
        initStyleOption(&option, index);
        return option.text;
    }

    // Rows span the list whatever their text, so the hint needs no text
    // measured, and no font loaded, to lay the list out.
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return QSize(1, m_rowHeight);
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override
    {
        if (event->type() == QEvent::ToolTip && index.isValid()) {
            const QString whole = index.data(Qt::DisplayRole).toString();
            if (shownText(option, index) != whole) {
                QToolTip::showText(event->globalPos(), whole, view, option.rect);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->font = m_list->rowFont();
        option->fontMetrics = QFontMetrics(option->font);
        if (!option->rect.isValid() || option->text.isEmpty())
            return;
        // The room the style leaves the text: the text rectangle less the
        // margin it keeps on either side.
        const QWidget *widget = option->widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, option, widget);
        option->text = fitEntryLine(
            option->text, QFontMetricsF(option->font), textRect.width() - 2 * margin);
    }

private:
    int m_rowHeight;
    const TallyList *m_list;
};

TallyList::TallyList(int rows, int rowHeight, QWidget *parent)
    : QListWidget(parent),
      m_rows(rows),
      m_rowHeight(rowHeight),
      m_delegate(new EntryDelegate(rowHeight, this))
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setUniformItemSizes(true);
    setItemDelegate(m_delegate);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The room between the frame and the rows is painted like the rows.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

QString TallyList::shownLine(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = indexFromItem(item(row));
    option.rect = visualRect(index);
    return m_delegate->shownText(option, index);
}

QFont TallyList::rowFont() const
{
    // Lucida Console's line is exactly one row. A fallback face with taller
    // accents or deeper descenders is made smaller until its line fits,
    // rather than have its glyphs cut at the row's edges.
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
