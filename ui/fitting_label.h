#pragma once

#include <QLabel>

// A label of one line that is never cut: text wider than the label is drawn
// in a smaller size of the label's font. The size is chosen when the label is
// painted, so a label never shown never loads a font for it.
class FittingLabel : public QLabel {
public:
    using QLabel::QLabel;

    // The font the text is drawn in: the label's font, or a smaller size of it.
    QFont shownFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
