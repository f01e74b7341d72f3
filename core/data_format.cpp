#include "data_format.h"

#include "name_text.h"

#include <algorithm>
#include <cstdint>

namespace hostally {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// How many characters of an offending line an error message quotes.
constexpr std::size_t kQuoteLimit = 40;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

// Appends `c`, a character beyond ASCII, as UTF-8.
void appendUtf8(std::string &out, char16_t c)
{
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
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
        if (shownAs < 0x20 || shownAs == 0x7F || (!utf8 && shownAs >= 0x80 && shownAs < 0xA0)) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (utf8 || c < 0x80) {
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
    bool atLineEnd() const { return !atEnd() && (m_text[m_pos] == '\r' || m_text[m_pos] == '\n'); }
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
        for (skipSpaces(); atLineEnd(); skipSpaces())
            takeLineEnd();
    }

    // The text from the reading position up to the first of `stops` or the
    // end of the text, spaces and tabs at its end left out.
    std::string_view upTo(const char *stops) const
    {
        std::size_t end = std::min(m_text.find_first_of(stops, m_pos), m_text.size());
        while (end > m_pos && isSpace(m_text[end - 1]))
            --end;
        return m_text.substr(m_pos, end - m_pos);
    }

    void skip(std::size_t n) { m_pos += n; }

    // What stands at the reading position, for an error message: the rest of
    // its line, exactly as the line holds it.
    std::string found() const
    {
        return atEnd() ? "end of file" : atLineEnd() ? "end of line" : shown(upTo("\r\n"));
    }

    // Reads a double-quoted name; the reading position is on the opening quote.
    Status readName(std::string &name)
    {
        const std::size_t start = m_pos + 1;
        const std::size_t end = std::min(m_text.find_first_of("\"\r\n", start), m_text.size());
        if (end == m_text.size())
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
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (negative || text[0] == '+'))
        text.remove_prefix(1);
    if (text.empty())
        return CountParse::NotANumber;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return CountParse::NotANumber;
        // Stop accumulating once past the limit so the sum cannot overflow;
        // keep scanning so "99999999999999999x" still reads as not a number.
        if (magnitude <= kCountLimit)
            magnitude = magnitude * 10 + (c - '0');
    }
    if (magnitude > kCountLimit)
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
    } else if (reader.atLineEnd()) {
        reader.takeLineEnd();
    } else if (!reader.atEnd()) {
        // More of the line after the closing quote, and a quote in it: the
        // name itself held a double quote.
        const bool quoted = reader.upTo("\r\n").find('"') != std::string_view::npos;
        return Status::failure(reader.line(),
            "expected a comma or a line end after the name, found " + reader.found()
                + (quoted ? " (a name cannot hold a double quote)" : ""));
    }
    reader.skipSpaces();

    const std::string_view text = reader.upTo(",\r\n");
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

} // namespace

Status parseDataFile(std::string_view text, TallyTable &leagues, TallyTable &events)
{
    // Notepad's "Unicode" and PowerShell 5 write UTF-16 after a byte-order
    // mark. Read as 8-bit text, every other byte of it is a NUL: say what the
    // file is instead, and how to save it as text Hostally reads, with the
    // editor the system has.
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
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

    Reader reader(text);
    TallyTable newLeagues(kLeagueCapacity);
    TallyTable newEvents(kEventCapacity);

    for (int i = 0; i < kLeagueCapacity; ++i) {
        const std::string what = "league " + std::to_string(i + 1) + " of 3";
        reader.skipBlankLines();
        if (reader.atEnd() && i == 0)
            return Status::failure(
                reader.line(), "the file is empty, expected three league records");
        if (reader.atEnd())
            return Status::failure(
                reader.line(), "expected the name of " + what + ", found end of file");
        TallyEntry entry;
        if (Status s = readRecord(reader, what, entry); !s.ok)
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
    for (const TallyTable *table : {&leagues, &events}) {
        for (int i = 0; i < table->used(); ++i)
            out += '"' + table->name(i) + "\"\r\n" + std::to_string(table->count(i)) + "\r\n";
    }
    return out;
}

} // namespace hostally
