#include "windows1252.h"

#include "name_text.h"

#include <QStringDecoder>

static QString fromWindows1252(const std::string &bytes)
{
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (unsigned char c : bytes)
        *out++ = QChar(hostally::windows1252Char(c));
    return text;
}

QString fromNameBytes(const std::string &bytes, unsigned codePage)
{
    if (hostally::isUtf8Name(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (codePage == 1252)
        return fromWindows1252(bytes);
    QString text;
    if (hostally::decodeWithSystem(bytes, codePage, text))
        return text;
    QStringDecoder decoder(QByteArray("windows-") + QByteArray::number(codePage));
    if (decoder.isValid())
        return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return fromWindows1252(bytes);
}
