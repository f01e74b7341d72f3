#include "windows1252.h"

#include "name_text.h"

#include <QStringDecoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

static QString fromWindows1252(const std::string &bytes)
{
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (unsigned char c : bytes)
        *out++ = QChar(hostally::windows1252Char(c));
    return text;
}

unsigned textCodePage()
{
#ifdef Q_OS_WIN
    return GetACP();
#else
    return 1252;
#endif
}

QString fromNameBytes(const std::string &bytes, unsigned codePage)
{
    if (hostally::isUtf8Name(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (codePage == 1252)
        return fromWindows1252(bytes);
#ifdef Q_OS_WIN
    const int size = static_cast<int>(bytes.size());
    if (const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
        length > 0) {
        QString text(length, Qt::Uninitialized);
        MultiByteToWideChar(
            codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t *>(text.data()), length);
        return text;
    }
#endif
    QStringDecoder decoder(QByteArray("windows-") + QByteArray::number(codePage));
    if (decoder.isValid())
        return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return fromWindows1252(bytes);
}
