#include "fitted_font.h"

#include <QFontInfo>
#include <QFontMetricsF>

namespace {

// Below this no text is readable; a font is never made smaller.
constexpr int kSmallestPixelSize = 6;

// `font`, made smaller where its `measure` exceeds `limit`. Every size tried
// loads a font, which start-up pays for, so the first guess is the size at
// which the measure, growing about in step with the size, just fits; smaller
// sizes follow only where rounding leaves it too big.
template<typename Measure> QFont shrunkToFit(QFont font, qreal limit, Measure measure)
{
    const qreal measured = measure(font);
    if (measured <= limit)
        return font;
    int pixels = qMax(kSmallestPixelSize, int(QFontInfo(font).pixelSize() * limit / measured));
    font.setPixelSize(pixels);
    while (measure(font) > limit && pixels > kSmallestPixelSize)
        font.setPixelSize(--pixels);
    return font;
}

} // namespace

QFont fontWithLineWithin(const QFont &font, int height)
{
    return shrunkToFit(font, height, [](const QFont &f) { return QFontMetrics(f).height(); });
}

QFont fontWithTextWithin(const QFont &font, const QString &text, int width)
{
    return shrunkToFit(
        font, width, [&text](const QFont &f) { return QFontMetricsF(f).horizontalAdvance(text); });
}
