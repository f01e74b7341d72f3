#pragma once

#include <QListWidget>

#include <optional>

// The least contrast of text with its background that reads easily (WCAG AA).
constexpr qreal kReadableContrast = 4.5;
// The least contrast of a state the user must see with what is around it (WCAG AA).
constexpr qreal kVisibleContrast = 3;

// The WCAG contrast ratio of two colours, from 1 to 21.
qreal contrastRatio(const QColor &a, const QColor &b);

// One line of a tally list: the entry's name as read, its "-" and count
// ("- 5", "--5"), and the whole entry line the table makes of the two.
struct TallyLine {
    QString name;
    QString count;
    QString whole;
};

// The list box of one tally column: a whole number of rows of one fixed
// height inside its frame. Each line reads name, "-", count, left to right
// whatever the name's script, the "-" of short names in one column, readable
// on whatever background the style paints for it; a line wider than the list
// shortens its name with "…" and shows whole in its tooltip. A selected line
// stays selected until the user picks another or a command changes the
// selection; until one is, the focus shows around the rows.
class TallyList : public QListWidget {
public:
    TallyList(int rows, int rowHeight, QWidget *parent = nullptr);

    // Replaces every line with `lines`, in order, leaving no line selected.
    void setLines(const QList<TallyLine> &lines);

    // Changes the text of line `row` where it stands: the item, the current
    // line, the selection and the scroll position stay as they are.
    void setLine(int row, const TallyLine &line);

    // Makes line `row` the selected and current line and brings it into view
    // by the smallest scroll.
    void selectLine(int row);

    // How row `row` is drawn: the name as it shows (control characters as a
    // placeholder, shortened with "…" where the line is wider than the list),
    // and where its "-" starts, in pixels from the start of the text.
    struct Shown {
        QString name;
        qreal dash = 0;
        bool shortened = false; // the padding or the name gave way
    };
    Shown shownLine(int row) const;

    // The font the rows are drawn in: the list's font, made smaller where the
    // face found has a line taller than a row, whose glyphs the row would cut.
    QFont rowFont() const;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex &index, const QEvent *event = nullptr) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_rows;
    int m_rowHeight;
    // Chosen when first needed, at the first paint: loading a font of another
    // size before the window shows would delay it.
    mutable std::optional<QFont> m_rowFont;
};
