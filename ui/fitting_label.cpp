#include "fitting_label.h"

#include "fitted_font.h"

#include <QPainter>
#include <QStyle>

QFont FittingLabel::shownFont() const
{
    return fontWithTextWithin(font(), text(), contentsRect().width());
}

void FittingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(shownFont());
    style()->drawItemText(
        &painter, contentsRect(), alignment(), palette(), isEnabled(), text(), foregroundRole());
}
