#pragma once

#include "file_io.h"

#include <QString>

#include <string>

// Decodes a name, or a list line that holds one, as the window shows it: as
// UTF-8 when hostally::isUtf8Name() says so, otherwise in Windows code page
// `codePage`, the system's (see hostally::textCodePage()) unless given, with
// the system's tables on Windows and ICU's elsewhere, and as Windows-1252
// where neither knows the code page.
QString fromNameBytes(const std::string &bytes, unsigned codePage = hostally::textCodePage());
