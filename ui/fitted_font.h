#pragma once

#include <QFont>

class QString;

// `font` itself when its line (ascent plus descent) is at most `height`
// pixels; otherwise `font` at a pixel size, about the largest, whose line is.
QFont fontWithLineWithin(const QFont &font, int height);

// `font` itself when `text` is at most `width` pixels wide in it; otherwise
// `font` at a pixel size, about the largest, at which the text is.
QFont fontWithTextWithin(const QFont &font, const QString &text, int width);
