#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hostally {

// Names are kept as the data file's bytes. They are read as UTF-8 when that
// is what an editor wrote, and otherwise in the system's 8-bit code page
// (Windows-1252 where the system names none); the list lines and the window
// decide alike, through these functions.

// Whether `name` is read as UTF-8: its bytes are valid UTF-8 and hold at least
// one character beyond ASCII.
bool isUtf8Name(std::string_view name);

// How many characters `name` shows: the length of nameText(name).
std::size_t nameLength(std::string_view name);

// The character that `byte` stands for in Windows-1252. Bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) give the control characters
// of the same value, as Windows itself decodes them.
char16_t windows1252Char(unsigned char byte);

// The text `name` shows, as code points: decoded as UTF-8 when isUtf8Name()
// says so, otherwise one character per byte through the 8-bit code page. Two
// names are the same name when their texts are equal, whichever encoding an
// editor saved each in.
std::u32string nameText(std::string_view name);

} // namespace hostally
