#include "recovery.h"

#include <charconv>
#include <utility>

namespace hostally {

namespace {

// The first line of every recovery file: says what the file is to anyone who
// opens it, and lets a later form of it be told apart.
constexpr std::string_view kFirstLine = "Hostally unsaved counts, form 1";
constexpr std::string_view kLineEnd = "\r\n";

// Whether `text` is just a number, which it reads into `value`.
bool toNumber(std::string_view text, std::int64_t &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Reads the recovery file a field at a time; every step fails on a cut or
// foreign file rather than reading past its end.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) { }

    // Reads "`key` <number>" and its line end.
    bool number(std::string_view key, std::int64_t &value)
    {
        std::string text;
        return optional(key, text) && toNumber(text, value);
    }

    // Reads "`key` <text>" when the next line starts with `key`.
    bool optional(std::string_view key, std::string &value)
    {
        const std::size_t at = m_at;
        std::string_view line;
        if (!this->line(line) || line.substr(0, key.size() + 1) != std::string(key) + ' ') {
            m_at = at;
            return false;
        }
        value = std::string(line.substr(key.size() + 1));
        return true;
    }

    // Reads the "includes <written> <file name>" lines there are.
    bool includes(std::vector<std::pair<std::string, std::int64_t>> &out)
    {
        std::string line;
        while (optional("includes", line)) {
            const std::size_t space = line.find(' ');
            std::int64_t writtenMs = 0;
            if (space == std::string::npos || space + 1 == line.size()
                || !toNumber(std::string_view(line).substr(0, space), writtenMs))
                return false;
            out.emplace_back(line.substr(space + 1), writtenMs);
        }
        return true;
    }

    // Reads one line, without its line end.
    bool line(std::string_view &line)
    {
        const std::size_t end = m_text.find(kLineEnd, m_at);
        if (end == std::string_view::npos)
            return false;
        line = m_text.substr(m_at, end - m_at);
        m_at = end + kLineEnd.size();
        return true;
    }

    // Reads "`key` <size>", that many bytes and a line end.
    bool block(std::string_view key, std::string_view &bytes)
    {
        std::int64_t size = 0;
        if (!number(key, size) || size < 0
            || static_cast<std::uint64_t>(size) > m_text.size() - m_at)
            return false;
        bytes = m_text.substr(m_at, static_cast<std::size_t>(size));
        m_at += static_cast<std::size_t>(size);
        if (m_text.substr(m_at, kLineEnd.size()) != kLineEnd)
            return false;
        m_at += kLineEnd.size();
        return true;
    }

    bool atEnd() const { return m_at == m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

bool sameNames(const TallyTable &a, const TallyTable &b)
{
    if (a.used() != b.used())
        return false;
    for (int i = 0; i < a.used(); ++i) {
        if (a.name(i) != b.name(i))
            return false;
    }
    return true;
}

} // namespace

std::string formatRecovery(const Recovery &recovery)
{
    const std::string window = formatDataFile(recovery.window.leagues, recovery.window.events);
    std::string out;
    out.reserve(recovery.base.size() + window.size() + 128);
    out.append(kFirstLine).append(kLineEnd);
    out.append("written " + std::to_string(recovery.writtenMs)).append(kLineEnd);
    out.append("changes " + std::to_string(recovery.changes)).append(kLineEnd);
    out.append("reset leagues " + std::to_string(int(recovery.resets.leagues))).append(kLineEnd);
    out.append("reset events " + std::to_string(int(recovery.resets.events))).append(kLineEnd);
    if (!recovery.saving.empty())
        out.append("saving " + recovery.saving).append(kLineEnd);
    for (const auto &[name, writtenMs] : recovery.includes)
        out.append("includes " + std::to_string(writtenMs) + ' ' + name).append(kLineEnd);
    out.append("base " + std::to_string(recovery.base.size())).append(kLineEnd);
    out.append(recovery.base).append(kLineEnd);
    out.append("window " + std::to_string(window.size())).append(kLineEnd);
    out.append(window).append(kLineEnd);
    return out;
}

Status parseRecovery(std::string_view text, Recovery &recovery)
{
    Reader reader(text);
    std::string_view first;
    if (!reader.line(first) || first != kFirstLine)
        return Status::failure(0, "it is not a file of unsaved counts Hostally wrote");
    Recovery read;
    std::int64_t changes = 0;
    std::int64_t resetLeagues = 0;
    std::int64_t resetEvents = 0;
    std::string_view base;
    std::string_view window;
    if (!reader.number("written", read.writtenMs) || !reader.number("changes", changes)
        || changes < 0 || changes > 1'000'000'000 || !reader.number("reset leagues", resetLeagues)
        || resetLeagues < 0 || resetLeagues > 1 || !reader.number("reset events", resetEvents)
        || resetEvents < 0 || resetEvents > 1
        || (reader.optional("saving", read.saving) && read.saving.empty())
        || !reader.includes(read.includes) || !reader.block("base", base)
        || !reader.block("window", window) || !reader.atEnd())
        return Status::failure(0, "it is incomplete or damaged");
    read.changes = static_cast<int>(changes);
    read.resets = {resetLeagues == 1, resetEvents == 1};
    read.base = std::string(base);
    if (!parseDataFile(base, read.baseTables.leagues, read.baseTables.events).ok
        || !parseDataFile(window, read.window.leagues, read.window.events).ok
        || !sameNames(read.baseTables.leagues, read.window.leagues)
        || !sameNames(read.baseTables.events, read.window.events))
        return Status::failure(0, "the counts in it are damaged");
    recovery = std::move(read);
    return Status::success();
}

std::vector<RecoveredLine> changedLines(const Recovery &recovery)
{
    std::vector<RecoveredLine> out;
    for (const bool league : {true, false}) {
        TallyTable Tallies::*list = league ? &Tallies::leagues : &Tallies::events;
        const TallyTable &from = recovery.baseTables.*list;
        const TallyTable &to = recovery.window.*list;
        for (int i = 0; i < to.used(); ++i) {
            if (to.count(i) != from.count(i))
                out.push_back({league, to.name(i), from.count(i), to.count(i)});
        }
    }
    return out;
}

RestoreResult restoreRecovery(const Recovery &recovery, const Tallies &file)
{
    MergeResult merged = mergeTallies(recovery.baseTables, recovery.window, file, recovery.resets);
    RestoreResult result;
    result.resets = recovery.resets;
    // A list's Reset is refused before any of its lines: once refused, the
    // list stays as the file has it, since what was counted after the Reset
    // was counted from 0 and means nothing on the file's counts.
    for (const MergeRefusal &refusal : merged.refusals) {
        TallyTable Tallies::*list = refusal.league ? &Tallies::leagues : &Tallies::events;
        bool Resets::*reset = refusal.league ? &Resets::leagues : &Resets::events;
        if (refusal.kind == MergeRefusal::Kind::ResetChanged) {
            result.resets.*reset = false;
            merged.merged.*list = file.*list;
        } else if (recovery.resets.*reset && !(result.resets.*reset)) {
            continue;
        }
        const int at = refusal.line;
        result.refused.push_back(
            {{refusal.league, refusal.name, at < 0 ? 0 : (recovery.baseTables.*list).count(at),
                 at < 0 ? 0 : (recovery.window.*list).count(at)},
                refusal.kind});
    }
    result.restored = merged.merged;
    return result;
}

} // namespace hostally
