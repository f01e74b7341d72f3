#include "windows1252.h"

#include "name_text.h"

namespace {

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

} // namespace

QString fromWindows1252(const std::string &bytes)
{
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (unsigned char c : bytes)
        *out++ = (c >= 0x80 && c < 0xA0) ? QChar(kHighControls[c - 0x80]) : QChar(c);
    return text;
}

QString fromNameBytes(const std::string &bytes)
{
    if (hostally::isUtf8Name(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return fromWindows1252(bytes);
}
