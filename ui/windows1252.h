#pragma once

#include "platform_file.h"

#include <QString>

#include <string>

// Decodes 8-bit text as Windows-1252, one character per byte. Bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control
// characters of the same value, as Windows itself decodes them.
QString fromWindows1252(const std::string &bytes);

// Decodes 8-bit text in Windows code page `codePage`: 1252 as above, any
// other with the system's tables on Windows and ICU's elsewhere, and as
// Windows-1252 where neither knows the code page.
QString fromCodePage(const std::string &bytes, unsigned codePage);

// Decodes a name, or a list line that holds one, as the window shows it: as
// UTF-8 when hostally::isUtf8Name() says so, otherwise in `codePage`, the
// system's (see hostally::textCodePage()) unless given.
QString fromNameBytes(const std::string &bytes, unsigned codePage = hostally::textCodePage());
