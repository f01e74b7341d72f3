#include "name_text.h"

namespace hostally {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0.
// Overlong forms, surrogates and code points past U+10FFFF are not
// well-formed: an editor never writes them, and a Windows-1252 name can hold
// such bytes by chance.
std::size_t sequenceLength(std::string_view bytes)
{
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2 || lead > 0xF4)
        return 0;
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // After E0, ED, F0 and F4 the second byte's range narrows.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

bool isUtf8Name(std::string_view name)
{
    bool beyondAscii = false;
    while (!name.empty()) {
        const std::size_t length = sequenceLength(name);
        if (length == 0)
            return false;
        beyondAscii = beyondAscii || length > 1;
        name.remove_prefix(length);
    }
    return beyondAscii;
}

std::size_t nameLength(std::string_view name)
{
    return nameText(name).size();
}

char16_t windows1252Char(unsigned char byte)
{
    return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : char16_t(byte);
}

std::u32string nameText(std::string_view name)
{
    std::u32string text;
    text.reserve(name.size());
    if (!isUtf8Name(name)) {
        for (const char c : name)
            text += windows1252Char(static_cast<unsigned char>(c));
        return text;
    }
    // Well-formed, as isUtf8Name() found: each lead byte says how many
    // continuation bytes follow, and each gives six bits.
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(name[i + k]) & 0x3F);
        text += code;
        i += length;
    }
    return text;
}

} // namespace hostally
