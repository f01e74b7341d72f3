#pragma once

#include <QListWidget>

#include <optional>

class EntryDelegate;

// The list box of one tally column. Every row is one fixed height, and the
// list holds a whole number of rows inside its frame, with no part of a row
// showing at its foot; the rows are drawn in a font whose line fits a row.
// Once a line is selected it stays selected until the user picks another line
// or a command changes the selection. A line wider than the list keeps its
// "-" and count in view: the name is shortened with "…", and the row's
// tooltip shows the whole line.
class TallyList : public QListWidget {
public:
    // Makes a list that shows `rows` rows of `rowHeight` pixels each.
    TallyList(int rows, int rowHeight, QWidget *parent = nullptr);

    // The text row `row` shows: its whole line, or the line with the name
    // shortened when the whole line is wider than the list.
    QString shownLine(int row) const;

    // The font the rows are drawn in: the list's font, made smaller where the
    // face found has a line taller than a row.
    QFont rowFont() const;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex &index, const QEvent *event = nullptr) const override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int m_rows;
    int m_rowHeight;
    EntryDelegate *m_delegate;
    // Chosen when first needed, at the first paint: loading a font of another
    // size before the window shows would delay it.
    mutable std::optional<QFont> m_rowFont;
};
