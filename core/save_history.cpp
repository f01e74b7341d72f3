#include "save_history.h"

#include "merge.h"
#include "text_reader.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <utility>

namespace hostally {

namespace {

constexpr std::string_view kFirstLine = "Hostally saves, form 1";
// How far another computer's clock may be from this one's. Within one
// computer, a version's save is the latest one before the save that replaced
// it; across two, one that came a little "later" by the clocks still counts.
constexpr std::int64_t kClockSlackMs = 60 * 60 * 1000;
// The time of a version that no save recorded wrote: older than any.
constexpr std::int64_t kNoSave = std::numeric_limits<std::int64_t>::min();

// Every version of the data file that `start` descends from, with the time of
// the save that wrote it (kNoSave when none recorded did). The same bytes may
// have been written by several saves, say after an Add and a Remove: each
// step back takes the latest save before the one it comes from.
std::map<std::string_view, std::int64_t> ancestry(
    const std::vector<ComputerSaves> &history, const std::string &start)
{
    struct Step {
        std::string_view bytes;
        std::int64_t before; // a save after this one cannot have written it
        const ComputerSaves *by; // whose clock `before` is; none for the start
    };
    std::map<std::string_view, std::int64_t> found;
    std::set<const SaveRecord *> visited;
    std::vector<Step> todo {{start, std::numeric_limits<std::int64_t>::max(), nullptr}};
    while (!todo.empty()) {
        const Step step = todo.back();
        todo.pop_back();
        const SaveRecord *latest = nullptr;
        const ComputerSaves *latestBy = nullptr;
        for (const ComputerSaves &computer : history) {
            const std::int64_t before = step.by == nullptr || step.by == &computer ? step.before
                                                                                   : step.before
                    + std::min(
                        kClockSlackMs, std::numeric_limits<std::int64_t>::max() - step.before);
            for (const SaveRecord &save : computer.saves) {
                if (save.written == step.bytes && save.ms < before
                    && (latest == nullptr || save.ms > latest->ms)) {
                    latest = &save;
                    latestBy = &computer;
                }
            }
        }
        std::int64_t &time = found.try_emplace(step.bytes, kNoSave).first->second;
        if (latest == nullptr || !visited.insert(latest).second)
            continue;
        time = std::max(time, latest->ms);
        for (const std::string &replaced : latest->replaced)
            todo.push_back({replaced, latest->ms, latestBy});
    }
    return found;
}

} // namespace

std::string formatSaveRecords(const std::vector<SaveRecord> &saves)
{
    std::string out;
    out.append(kFirstLine).append(kLineEnd);
    const auto block = [&out](std::string_view key, const std::string &bytes) {
        out.append(key).append(" " + std::to_string(bytes.size())).append(kLineEnd);
        out.append(bytes).append(kLineEnd);
    };
    for (const SaveRecord &save : saves) {
        out.append("save " + std::to_string(save.ms) + ' ' + std::to_string(save.replaced.size()))
            .append(kLineEnd);
        for (const std::string &replaced : save.replaced)
            block("replaced", replaced);
        block("written", save.written);
    }
    return out;
}

Status parseSaveRecords(std::string_view text, std::vector<SaveRecord> &saves)
{
    Reader reader(text);
    std::string_view first;
    if (!reader.line(first) || first != kFirstLine)
        return Status::failure(0, "it is not a record of saves Hostally wrote");
    std::vector<SaveRecord> read;
    std::string line;
    while (!reader.atEnd()) {
        SaveRecord save;
        std::int64_t count = 0;
        std::string_view bytes;
        const std::size_t split = reader.optional("save", line) ? line.find(' ') : line.npos;
        if (split == line.npos || !toNumber(std::string_view(line).substr(0, split), save.ms)
            || !toNumber(std::string_view(line).substr(split + 1), count) || count < 1
            || count > 100)
            return Status::failure(0, "it is incomplete or damaged");
        for (; count > 0; --count) {
            if (!reader.block("replaced", bytes))
                return Status::failure(0, "it is incomplete or damaged");
            save.replaced.emplace_back(bytes);
        }
        if (!reader.block("written", bytes))
            return Status::failure(0, "it is incomplete or damaged");
        save.written = std::string(bytes);
        read.push_back(std::move(save));
    }
    saves = std::move(read);
    return Status::success();
}

void keepSave(std::vector<SaveRecord> &saves, SaveRecord save)
{
    saves.push_back(std::move(save));
    if (saves.size() > kSavesKept)
        saves.erase(saves.begin(), saves.end() - kSavesKept);
}

std::optional<std::string> commonVersion(
    const std::vector<ComputerSaves> &history, const std::string &a, const std::string &b)
{
    const auto ofA = ancestry(history, a);
    const auto ofB = ancestry(history, b);
    // The latest version in both: the one whose later save in either is the latest.
    std::optional<std::string> best;
    std::int64_t bestTime = kNoSave;
    bool tied = false;
    for (const auto &[bytes, timeInA] : ofA) {
        const auto inB = ofB.find(bytes);
        if (inB == ofB.end())
            continue;
        const std::int64_t time = std::min(timeInA, inB->second);
        if (best && time == bestTime) {
            tied = true;
        } else if (!best || time > bestTime) {
            best = std::string(bytes);
            bestTime = time;
            tied = false;
        }
    }
    if (tied)
        return std::nullopt;
    return best;
}

RestoreResult mergeCopy(const Tallies &base, const Tallies &copy, const Tallies &file)
{
    // The copy as a window that read `base`: its names, the copy's counts.
    Recovery recovery;
    recovery.baseTables = base;
    recovery.window = base;
    std::vector<RestoreResult::Refusal> added;
    for (const bool league : {true, false}) {
        TallyTable Tallies::*list = league ? &Tallies::leagues : &Tallies::events;
        const TallyTable &from = base.*list;
        const TallyTable &to = copy.*list;
        for (int i = 0; i < from.used(); ++i) {
            if (const int j = sameLine(from, i, to); j >= 0)
                (recovery.window.*list).setEntry(i, from.name(i), to.count(j));
        }
        for (int j = 0; j < to.used(); ++j) {
            if (to.count(j) != 0 && sameLine(to, j, from) < 0)
                added.push_back(
                    {{league, to.name(j), 0, to.count(j)}, MergeRefusal::Kind::NotInBase});
        }
    }
    RestoreResult result = restoreRecovery(recovery, file);
    result.refused.insert(result.refused.end(), added.begin(), added.end());
    return result;
}

std::vector<CopyOutcome> mergeCopies(std::vector<ComputerSaves> history,
    const std::string &fileBytes, Tallies &file, const std::vector<std::string> &copies,
    bool takeRefused, SaveRecord &merge)
{
    std::vector<CopyOutcome> outcomes;
    // The file with the copies merged so far, as a save of its own: a copy
    // that descends from one merged before it adds only what is new in it.
    history.push_back({{}, {}});
    std::string current = fileBytes;
    for (const std::string &bytes : copies) {
        CopyOutcome &outcome = outcomes.emplace_back();
        Tallies copy;
        Tallies base;
        outcome.problem = parseDataFile(bytes, copy.leagues, copy.events);
        if (!outcome.problem.ok) {
            outcome.kind = CopyOutcome::Kind::Unreadable;
            continue;
        }
        const std::optional<std::string> common = commonVersion(history, current, bytes);
        if (!common || !parseDataFile(*common, base.leagues, base.events).ok) {
            outcome.counted = differingLines(file, copy);
            continue;
        }
        RestoreResult merged = mergeCopy(base, copy, file);
        outcome.refused = std::move(merged.refused);
        // What it counted, but for the lines that cannot be placed.
        for (const RecoveredLine &line : differingLines(base, copy)) {
            if (std::none_of(outcome.refused.begin(), outcome.refused.end(), [&](const auto &r) {
                    return r.line.league == line.league && r.line.name == line.name;
                }))
                outcome.counted.push_back(line);
        }
        outcome.kind = outcome.refused.empty() || takeRefused ? CopyOutcome::Kind::Merged
                                                              : CopyOutcome::Kind::Refused;
        if (outcome.kind != CopyOutcome::Kind::Merged)
            continue;
        file = std::move(merged.restored);
        merge.replaced.push_back(bytes);
        SaveRecord step {merge.ms + std::int64_t(merge.replaced.size()), {current, bytes},
            formatDataFile(file.leagues, file.events)};
        current = step.written;
        history.back().saves.push_back(std::move(step));
    }
    return outcomes;
}

std::vector<RecoveredLine> differingLines(const Tallies &file, const Tallies &copy)
{
    std::vector<RecoveredLine> out;
    for (const bool league : {true, false}) {
        TallyTable Tallies::*list = league ? &Tallies::leagues : &Tallies::events;
        const TallyTable &ours = file.*list;
        const TallyTable &theirs = copy.*list;
        for (int j = 0; j < theirs.used(); ++j) {
            const int i = sameLine(theirs, j, ours);
            const std::int64_t before = i < 0 ? 0 : ours.count(i);
            if (before != theirs.count(j))
                out.push_back({league, theirs.name(j), before, theirs.count(j)});
        }
        for (int i = 0; i < ours.used(); ++i) {
            if (ours.count(i) != 0 && sameLine(ours, i, theirs) < 0)
                out.push_back({league, ours.name(i), ours.count(i), 0});
        }
    }
    return out;
}

} // namespace hostally
