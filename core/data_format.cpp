#include "data_format.h"

#include "name_text.h"

#include <cstdint>

namespace hostally {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Marks[] = {"\xFF\xFE", "\xFE\xFF"};
// How many characters of an offending line an error message quotes.
constexpr std::size_t kQuoteLimit = 40;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

bool isLineEndChar(char c)
{
    return c == '\r' || c == '\n';
}

void appendUtf8(std::string &out, char16_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Shows text of the file in an error message as it stands, without quotes
// around it, and as the window would show it: as UTF-8 when it is, otherwise
// as Windows-1252. Control characters show as \xNN, so that they stay visible
// and cannot break the message. Long texts end in "...".
std::string shown(std::string_view bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    const bool utf8 = isUtf8Name(bytes);
    std::string out;
    std::size_t characters = 0;
    for (unsigned char c : bytes) {
        const bool startsCharacter = !utf8 || (c & 0xC0) != 0x80;
        if (startsCharacter && ++characters > kQuoteLimit)
            return out + "...";
        const char16_t shownAs = utf8 ? c : windows1252Char(c);
        const bool control
            = shownAs < 0x20 || shownAs == 0x7F || (!utf8 && shownAs >= 0x80 && shownAs < 0xA0);
        if (control) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (utf8) {
            out += static_cast<char>(c);
        } else {
            appendUtf8(out, shownAs);
        }
    }
    return out;
}

// Walks the text one field at a time, counting lines as it goes. A line end is
// CR LF, LF, or a lone CR.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text)
    {
        if (m_text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            m_pos = kByteOrderMark.size();
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    bool atLineEnd() const { return !atEnd() && isLineEndChar(m_text[m_pos]); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }
    int line() const { return m_line; }

    void skipSpaces()
    {
        while (!atEnd() && isSpace(m_text[m_pos]))
            ++m_pos;
    }

    void takeLineEnd()
    {
        if (m_text[m_pos] == '\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\n')
            ++m_pos;
        ++m_pos;
        ++m_line;
    }

    // Skips lines that hold nothing but spaces and tabs; stops at the first
    // character of the next field, or at the end of the text.
    void skipBlankLines()
    {
        for (;;) {
            skipSpaces();
            if (!atLineEnd())
                return;
            takeLineEnd();
        }
    }

    // The text of the current field up to the next comma or line end, spaces
    // and tabs at its end left out.
    std::string_view field() const
    {
        std::size_t end = m_pos;
        while (end < m_text.size() && m_text[end] != ',' && !isLineEndChar(m_text[end]))
            ++end;
        std::size_t last = end;
        while (last > m_pos && isSpace(m_text[last - 1]))
            --last;
        return m_text.substr(m_pos, last - m_pos);
    }

    void skip(std::size_t n) { m_pos += n; }

    // What stands at the reading position, for an error message: the rest of
    // its line, exactly as the line holds it.
    std::string found() const
    {
        if (atEnd())
            return "end of file";
        if (atLineEnd())
            return "end of line";
        std::size_t end = m_pos;
        while (end < m_text.size() && !isLineEndChar(m_text[end]))
            ++end;
        while (end > m_pos && isSpace(m_text[end - 1]))
            --end;
        return shown(m_text.substr(m_pos, end - m_pos));
    }

    // Whether `c` stands between the reading position and the line's end.
    bool restOfLineHas(char c) const
    {
        for (std::size_t i = m_pos; i < m_text.size() && !isLineEndChar(m_text[i]); ++i) {
            if (m_text[i] == c)
                return true;
        }
        return false;
    }

    // Reads a double-quoted name; the reading position is on the opening quote.
    Status readName(std::string &name)
    {
        const std::size_t start = m_pos + 1;
        std::size_t end = start;
        while (end < m_text.size() && m_text[end] != '"' && !isLineEndChar(m_text[end]))
            ++end;
        if (end >= m_text.size())
            return Status::failure(m_line, "expected a closing double quote, found end of file");
        if (m_text[end] != '"')
            return Status::failure(m_line,
                "expected a closing double quote, found end of line after "
                    + shown(m_text.substr(m_pos, end - m_pos)));
        name.assign(m_text.substr(start, end - start));
        m_pos = end + 1;
        return Status::success();
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

enum class CountParse { Ok, NotANumber, TooLarge };

// A count is an optional sign and decimal digits, nothing else.
CountParse parseCount(std::string_view text, std::int64_t &value)
{
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return CountParse::NotANumber;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return CountParse::NotANumber;
        // Stop accumulating once past the limit so the sum cannot overflow;
        // keep scanning so "99999999999999999x" still reads as not a number.
        if (!tooLarge) {
            magnitude = magnitude * 10 + (c - '0');
            tooLarge = magnitude > kCountLimit;
        }
    }
    if (tooLarge)
        return CountParse::TooLarge;
    value = negative ? -magnitude : magnitude;
    return CountParse::Ok;
}

// Reads one record: a quoted name, then a comma or a line end, then a count
// that ends its line. `what` names the record in error messages.
Status readRecord(Reader &reader, const std::string &what, TallyEntry &entry)
{
    reader.skipSpaces();
    if (reader.peek() != '"')
        return Status::failure(reader.line(),
            "expected the name of " + what + " in double quotes, found " + reader.found());
    if (Status s = reader.readName(entry.name); !s.ok)
        return s;

    reader.skipSpaces();
    if (reader.peek() == ',') {
        reader.skip(1);
        reader.skipSpaces();
    } else if (reader.atLineEnd()) {
        reader.takeLineEnd();
        reader.skipSpaces();
    } else if (!reader.atEnd()) {
        // More of the line after the closing quote, and a quote in it: the
        // name itself held a double quote.
        const std::string found = reader.found();
        return Status::failure(reader.line(),
            "expected a comma or a line end after the name, found " + found
                + (reader.restOfLineHas('"') ? " (a name cannot hold a double quote)" : ""));
    }

    const std::string_view text = reader.field();
    if (text.empty())
        return Status::failure(reader.line(), "expected a count, found " + reader.found());
    switch (parseCount(text, entry.count)) {
    case CountParse::Ok:
        break;
    case CountParse::NotANumber:
        return Status::failure(reader.line(), "expected a count, found " + reader.found());
    case CountParse::TooLarge:
        return Status::failure(reader.line(),
            "expected a count of at most " + std::to_string(kCountLimit) + " either way, found "
                + reader.found());
    }
    reader.skip(text.size());
    reader.skipSpaces();
    if (reader.atLineEnd())
        reader.takeLineEnd();
    else if (!reader.atEnd())
        return Status::failure(
            reader.line(), "expected a line end after the count, found " + reader.found());
    return Status::success();
}

void appendRecord(std::string &out, const TallyEntry &entry)
{
    out += '"';
    out += entry.name;
    out += "\"\r\n";
    out += std::to_string(entry.count);
    out += "\r\n";
}

} // namespace

Status parseDataFile(std::string_view text, TallyTable &leagues, TallyTable &events)
{
    // Notepad's "Unicode" and PowerShell 5 write UTF-16 after a byte-order
    // mark. Read as 8-bit text, every other byte of it is a NUL: say what the
    // file is instead, and how to save it as text Hostally reads, with the
    // editor the system has.
    for (const std::string_view mark : kUtf16Marks) {
        if (text.substr(0, mark.size()) == mark)
            return Status::failure(0,
                "the file is saved as UTF-16 (\"Unicode\"), which Hostally cannot read: open "
#ifdef _WIN32
                "it in Notepad, choose File > Save As, pick UTF-8 or ANSI under Encoding and "
                "save it again"
#else
                "it in a text editor and save it again with its \"Save as UTF-8\" choice (in "
                "some editors, Save As with UTF-8 as the encoding)"
#endif
            );
    }

    Reader reader(text);
    TallyTable newLeagues(kLeagueCapacity);
    TallyTable newEvents(kEventCapacity);

    for (int i = 0; i < kLeagueCapacity; ++i) {
        reader.skipBlankLines();
        if (reader.atEnd()) {
            if (i == 0)
                return Status::failure(
                    reader.line(), "the file is empty, expected three league records");
            return Status::failure(reader.line(),
                "expected the name of league " + std::to_string(i + 1)
                    + " of 3, found end of file");
        }
        TallyEntry entry;
        if (Status s = readRecord(reader, "league " + std::to_string(i + 1) + " of 3", entry);
            !s.ok)
            return s;
        newLeagues.setEntry(i, std::move(entry.name), entry.count);
    }

    for (int n = 0;; ++n) {
        reader.skipBlankLines();
        if (reader.atEnd())
            break;
        if (n == kEventCapacity)
            return Status::failure(reader.line(),
                "expected the end of the file after " + std::to_string(kEventCapacity)
                    + " event records, found a 101st record");
        TallyEntry entry;
        if (Status s = readRecord(reader, "event " + std::to_string(n + 1), entry); !s.ok)
            return s;
        newEvents.setEntry(n, std::move(entry.name), entry.count);
    }

    leagues = std::move(newLeagues);
    events = std::move(newEvents);
    return Status::success();
}

std::string formatDataFile(const TallyTable &leagues, const TallyTable &events)
{
    std::string out;
    for (int i = 0; i < leagues.used(); ++i)
        appendRecord(out, leagues.entry(i));
    for (int i = 0; i < events.used(); ++i)
        appendRecord(out, events.entry(i));
    return out;
}

} // namespace hostally
