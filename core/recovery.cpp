#include "recovery.h"

#include "text_reader.h"

#include <utility>

namespace hostally {

namespace {

// The first line of every recovery file: says what the file is to anyone who
// opens it, and lets a later form of it be told apart.
constexpr std::string_view kFirstLine = "Hostally unsaved counts, form 1";

// Reads the "includes <written> <file name>" lines there are.
bool readIncludes(Reader &reader, std::vector<std::pair<std::string, std::int64_t>> &out)
{
    std::string line;
    while (reader.optional("includes", line)) {
        const std::size_t space = line.find(' ');
        std::int64_t writtenMs = 0;
        if (space == std::string::npos || space + 1 == line.size()
            || !toNumber(std::string_view(line).substr(0, space), writtenMs))
            return false;
        out.emplace_back(line.substr(space + 1), writtenMs);
    }
    return true;
}

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
    if (!recovery.computer.empty())
        out.append("computer " + recovery.computer).append(kLineEnd);
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
    if (!reader.number("written", read.writtenMs)
        || (reader.optional("computer", read.computer) && read.computer.empty())
        || !reader.number("changes", changes) || changes < 0 || changes > 1'000'000'000
        || !reader.number("reset leagues", resetLeagues) || resetLeagues < 0 || resetLeagues > 1
        || !reader.number("reset events", resetEvents) || resetEvents < 0 || resetEvents > 1
        || (reader.optional("saving", read.saving) && read.saving.empty())
        || !readIncludes(reader, read.includes) || !reader.block("base", base)
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
