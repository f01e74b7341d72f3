#include "windows1252.h"

#include "name_text.h"

QString fromWindows1252(const std::string &bytes)
{
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (unsigned char c : bytes)
        *out++ = QChar(hostally::windows1252Char(c));
    return text;
}

QString fromNameBytes(const std::string &bytes)
{
    if (hostally::isUtf8Name(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return fromWindows1252(bytes);
}
