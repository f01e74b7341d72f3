#include "data_format.h"

#include "name_text.h"

#include <algorithm>
#include <cstdint>

namespace hostally {

namespace {

// How many characters of an offending line an error message quotes.
constexpr std::size_t kQuoteLimit = 40;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
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
            // A Windows-1252 character beyond ASCII, as UTF-8.
            if (shownAs < 0x800) {
                out += static_cast<char>(0xC0 | (shownAs >> 6));
            } else {
                out += static_cast<char>(0xE0 | (shownAs >> 12));
                out += static_cast<char>(0x80 | ((shownAs >> 6) & 0x3F));
            }
            out += static_cast<char>(0x80 | (shownAs & 0x3F));
        }
    }
    return out;
}

// Walks the text one record at a time, counting lines as it goes. A line end
// is CR LF, LF, or a lone CR.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text)
    {
        // A UTF-8 byte-order mark, as Notepad writes it, is not part of the
        // first name.
        if (m_text.substr(0, 3) == kByteOrderMark)
            m_pos = 3;
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    bool atLineEnd() const { return !atEnd() && (m_text[m_pos] == '\r' || m_text[m_pos] == '\n'); }

    // Skips lines that hold nothing but spaces and tabs; stops at the first
    // character of the next field, or at the end of the text.
    void skipBlankLines()
    {
        for (skipSpaces(); atLineEnd(); skipSpaces())
            takeLineEnd();
    }

    // Reads one record: a quoted name, then a comma or a line end, then a
    // count that ends its line. `what` names the record in error messages.
    Status readRecord(const std::string &what, TallyEntry &entry)
    {
        skipSpaces();
        if (atEnd() || m_text[m_pos] != '"')
            return failure("expected the name of " + what + " in double quotes, found " + found());
        const std::size_t start = m_pos + 1;
        const std::size_t end = std::min(m_text.find_first_of("\"\r\n", start), m_text.size());
        if (end == m_text.size())
            return failure("expected a closing double quote, found end of file");
        if (m_text[end] != '"')
            return failure("expected a closing double quote, found end of line after "
                + shown(m_text.substr(m_pos, end - m_pos)));
        entry.name.assign(m_text.substr(start, end - start));
        m_pos = end + 1;

        skipSpaces();
        if (!atEnd() && m_text[m_pos] == ',') {
            ++m_pos;
        } else if (atLineEnd()) {
            takeLineEnd();
        } else if (!atEnd()) {
            // More of the line after the closing quote, and a quote in it: the
            // name itself held a double quote.
            const bool quoted = upTo("\r\n").find('"') != std::string_view::npos;
            return failure("expected a comma or a line end after the name, found " + found()
                + (quoted ? " (a name cannot hold a double quote)" : ""));
        }
        skipSpaces();

        // A count is an optional sign and decimal digits, nothing else.
        const std::string_view text = upTo(",\r\n");
        std::string_view digits = text;
        const bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (negative || digits[0] == '+'))
            digits.remove_prefix(1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
            return failure("expected a count, found " + found());
        std::int64_t magnitude = 0;
        for (const char c : digits) {
            // Stop accumulating once past the limit so the sum cannot overflow.
            if (magnitude <= kCountLimit)
                magnitude = magnitude * 10 + (c - '0');
        }
        if (magnitude > kCountLimit)
            return failure("expected a count from -" + std::to_string(kCountLimit) + " to "
                + std::to_string(kCountLimit) + ", found " + found());
        entry.count = negative ? -magnitude : magnitude;
        m_pos += text.size();
        skipSpaces();
        if (atLineEnd())
            takeLineEnd();
        else if (!atEnd())
            return failure("expected a line end after the count, found " + found());
        return Status::success();
    }

    Status failure(std::string message) const
    {
        return Status::failure(m_line, std::move(message));
    }

private:
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

    // The text from the reading position up to the first of `stops` or the
    // end of the text, spaces and tabs at its end left out.
    std::string_view upTo(const char *stops) const
    {
        std::size_t end = std::min(m_text.find_first_of(stops, m_pos), m_text.size());
        while (end > m_pos && isSpace(m_text[end - 1]))
            --end;
        return m_text.substr(m_pos, end - m_pos);
    }

    // What stands at the reading position, for an error message: the rest of
    // its line, exactly as the line holds it.
    std::string found() const
    {
        return atEnd() ? "end of file" : atLineEnd() ? "end of line" : shown(upTo("\r\n"));
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

} // namespace

Status parseDataFile(std::string_view text, TallyTable &leagues, TallyTable &events)
{
    // Notepad's "Unicode" and PowerShell 5 write UTF-16, with a byte-order mark
    // or without: then exactly one of the first two bytes is a NUL. Such a file
    // that does not read is told how to save it as text; a file that reads is
    // taken, as names may hold NULs.
    const auto refused = [start = text.substr(0, 2)](Status status) {
        if (start == "\xFF\xFE" || start == "\xFE\xFF"
            || (start.size() == 2 && (start[0] == '\0') != (start[1] == '\0')))
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
        return status;
    };

    Reader reader(text);
    TallyTable newLeagues(kLeagueCapacity);
    TallyTable newEvents(kEventCapacity);
    // Three league records, then event records up to the end of the text.
    for (int n = 0;; ++n) {
        const bool league = n < kLeagueCapacity;
        const int slot = league ? n : n - kLeagueCapacity;
        const std::string what = league ? "league " + std::to_string(n + 1) + " of 3"
                                        : "event " + std::to_string(slot + 1);
        reader.skipBlankLines();
        if (reader.atEnd() && !league)
            break;
        if (reader.atEnd())
            return refused(
                reader.failure(n == 0 ? "the file is empty, expected three league records"
                                      : "expected the name of " + what + ", found end of file"));
        if (!league && slot == kEventCapacity)
            return refused(reader.failure("expected the end of the file after "
                + std::to_string(kEventCapacity) + " event records, found a 101st record"));
        TallyEntry entry;
        if (Status s = reader.readRecord(what, entry); !s.ok)
            return refused(s);
        (league ? newLeagues : newEvents).setEntry(slot, std::move(entry.name), entry.count);
    }

    leagues = std::move(newLeagues);
    events = std::move(newEvents);
    return Status::success();
}

std::string formatDataFile(const TallyTable &leagues, const TallyTable &events, bool byteOrderMark)
{
    std::string out(byteOrderMark ? kByteOrderMark : "");
    for (const TallyTable *table : {&leagues, &events}) {
        for (int i = 0; i < table->used(); ++i)
            out += '"' + table->name(i) + "\"\r\n" + std::to_string(table->count(i)) + "\r\n";
    }
    return out;
}

} // namespace hostally
