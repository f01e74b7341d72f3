#pragma once

#include <QString>

#include <string>

// The Windows code page of a data file's text that is not UTF-8: Windows'
// ANSI code page, what Notepad's "ANSI" writes; elsewhere Windows-1252.
unsigned textCodePage();

// Decodes a name, or a list line that holds one, as the window shows it: as
// UTF-8 when hostally::isUtf8Name() says so, else in code page `codePage`
// with the system's tables on Windows and ICU's elsewhere, and as
// Windows-1252 where neither knows it.
QString fromNameBytes(const std::string &bytes, unsigned codePage = textCodePage());
