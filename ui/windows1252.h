#pragma once

#include <QString>

#include <string>

// Decodes 8-bit text as Windows-1252, one character per byte. Bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control
// characters of the same value, as Windows itself decodes them.
QString fromWindows1252(const std::string &bytes);

// Decodes a name, or a list line that holds one, as the window shows it: as
// UTF-8 when hostally::isUtf8Name() says so, otherwise as Windows-1252.
QString fromNameBytes(const std::string &bytes);
