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
// The time of a version that no save recorded wrote: older than any.
constexpr std::int64_t kNoSave = std::numeric_limits<std::int64_t>::min();

// The save `id` names, if it is still recorded and wrote `bytes`.
const SaveRecord *findSave(
    const std::vector<ComputerSaves> &history, const SaveId &id, std::string_view bytes)
{
    for (const ComputerSaves &computer : history) {
        if (computer.computer != id.computer)
            continue;
        for (const SaveRecord &save : computer.saves) {
            if (save.ms == id.ms && save.written == bytes)
                return &save;
        }
    }
    return nullptr;
}

// The save of `writers` that wrote `bytes`: the first still recorded.
const SaveRecord *writerOf(
    const std::vector<ComputerSaves> &history, const Writers &writers, std::string_view bytes)
{
    for (const SaveId &id : writers) {
        if (const SaveRecord *save = findSave(history, id, bytes))
            return save;
    }
    return nullptr;
}

// The computer whose record holds `save`.
const std::string *computerOf(const std::vector<ComputerSaves> &history, const SaveRecord *save)
{
    for (const ComputerSaves &computer : history) {
        if (!computer.saves.empty() && &computer.saves.front() <= save
            && save <= &computer.saves.back())
            return &computer.computer;
    }
    return nullptr;
}

// Whether `save`, another computer's, may never have swapped its file in
// while its bytes may have come from elsewhere: another save wrote them, or
// replaced them as another's. Bytes that only it wrote can only come from it.
bool unsure(const std::vector<ComputerSaves> &history, const SaveRecord &save)
{
    // A merge that added nothing to the file stands for it either way.
    if (save.swapping.empty() || save.replaced.empty() || save.replaced.front() == save.written)
        return false;
    const SaveId id {*computerOf(history, &save), save.ms};
    for (const ComputerSaves &computer : history) {
        for (const SaveRecord &other : computer.saves) {
            if (computer.computer.empty() || &other == &save)
                continue;
            if (other.written == save.written)
                return true;
            for (std::size_t i = 0; i < other.replaced.size(); ++i) {
                const Writers none;
                const Writers &from = i < other.from.size() ? other.from[i] : none;
                if (other.replaced[i] == save.written
                    && std::none_of(from.begin(), from.end(), [&id](const SaveId &w) {
                           return w.computer == id.computer && w.ms == id.ms;
                       }))
                    return true;
            }
        }
    }
    return false;
}

// A version of the data file that a file descends from.
struct Version {
    std::string_view bytes;
    std::int64_t time; // of the save that wrote it; kNoSave when none recorded did
    // That save's own time: where clocks or saves within a millisecond make
    // two versions equally late, the later save is the one that holds.
    std::int64_t ms = kNoSave;
    const SaveRecord *save = nullptr; // one that wrote it
};

// What tells a version apart from another with the same bytes: the save that
// wrote it, as two computers that count alike still count twice. A merge of
// conflict copies, which any computer that merges the same copies makes
// alike, is its bytes; so is a version no recorded save wrote.
std::string versionKey(
    const std::string_view bytes, const SaveRecord *save, const std::vector<ComputerSaves> &history)
{
    if (save == nullptr || save->replaced.size() > 1)
        return "=" + std::string(bytes);
    const std::string *computer = computerOf(history, save);
    return computer ? *computer + ' ' + std::to_string(save->ms) : std::string();
}

// Every version of the data file that `start`, written by the first of
// `writers` still recorded (taken as having happened with `trustFirst`),
// descends from, each older than the version after it; none when a save on
// the way may never have swapped its file in, as its history may be
// another's. Each
// save names the saves that wrote the files it replaced: the same bytes may
// have been written by several, say after an Add and a Remove, and only that
// one's history is theirs.
using Versions = std::map<std::string, Version>;
Versions ancestry(const std::vector<ComputerSaves> &history, const std::string &start,
    const Writers &writers, bool trustFirst = false)
{
    struct Step {
        std::string_view bytes;
        const SaveRecord *save; // the one that wrote them, if recorded
        std::int64_t before; // the time of the version after them
        // Named by a later save of its own computer, which settles its own
        // saves as it reads them: it happened.
        bool vouched = false;
    };
    Versions found;
    std::set<const SaveRecord *> visited;
    std::vector<Step> todo {{start, writerOf(history, writers, start),
        std::numeric_limits<std::int64_t>::max(), trustFirst}};
    while (!todo.empty()) {
        const Step step = todo.back();
        todo.pop_back();
        Version &version = found
                               .try_emplace(versionKey(step.bytes, step.save, history),
                                   Version {step.bytes, kNoSave})
                               .first->second;
        if (step.save == nullptr || !visited.insert(step.save).second)
            continue;
        if (!step.vouched && unsure(history, *step.save))
            return {};
        const std::int64_t at = std::min(step.save->ms, step.before - 1);
        version.time = std::max(version.time, at);
        version.ms = std::max(version.ms, step.save->ms);
        version.save = step.save;
        for (std::size_t i = 0; i < step.save->replaced.size(); ++i) {
            const std::string &replaced = step.save->replaced[i];
            const SaveRecord *writer = i < step.save->from.size()
                ? writerOf(history, step.save->from[i], replaced)
                : nullptr;
            todo.push_back({replaced, writer, at,
                writer && *computerOf(history, writer) == *computerOf(history, step.save)});
        }
    }
    return found;
}

// The saves that wrote `bytes` and that `take` accepts, as Writers.
template<class Take>
Writers writersThat(const std::vector<ComputerSaves> &history, const std::string &bytes, Take take)
{
    Writers maybe;
    std::optional<SaveId> sure;
    for (const ComputerSaves &computer : history) {
        for (const SaveRecord &save : computer.saves) {
            if (computer.computer.empty() || save.written != bytes || !take(save))
                continue;
            const SaveId id {computer.computer, save.ms};
            if (!save.swapping.empty())
                maybe.push_back(id);
            else if (!sure || save.ms >= sure->ms)
                sure = id;
        }
    }
    // Latest first, down to the latest sure one: a later save is the one that
    // wrote a file, unless it never happened.
    std::sort(
        maybe.begin(), maybe.end(), [](const SaveId &a, const SaveId &b) { return a.ms > b.ms; });
    if (sure) {
        maybe.erase(std::remove_if(maybe.begin(), maybe.end(),
                        [&sure](const SaveId &id) { return id.ms < sure->ms; }),
            maybe.end());
        maybe.push_back(*sure);
    }
    return maybe;
}

// The saves whose file a conflict copy holding `bytes` may be, beside a data
// file with the versions `file`: those the data file does not descend from,
// as the same counts may have been reached twice, one of them in the copy;
// else those the data file holds.
Writers copyWriters(
    const std::vector<ComputerSaves> &history, const Versions &file, const std::string &bytes)
{
    const Writers outside = writersThat(history, bytes,
        [&](const SaveRecord &save) { return !file.count(versionKey(bytes, &save, history)); });
    return outside.empty() ? writersOf(history, bytes) : outside;
}

// Whether a save replaced `bytes` as the file `written` wrote: its counts
// went on in that save's file, not dropped.
bool carriedOn(const std::vector<ComputerSaves> &history, const SaveRecord &written)
{
    for (const ComputerSaves &computer : history) {
        for (const SaveRecord &save : computer.saves) {
            for (std::size_t i = 0; i < save.replaced.size() && i < save.from.size(); ++i) {
                if (save.replaced[i] == written.written
                    && writerOf(history, save.from[i], written.written) == &written)
                    return true;
            }
        }
    }
    return false;
}

// What a file holding `bytes` and written by one of `writers` may descend
// from: each save not yet settled that may have written it taken in turn as
// its writer, then, as though it never happened, the next.
std::vector<Versions> readings(
    const std::vector<ComputerSaves> &history, const std::string &bytes, const Writers &writers)
{
    std::vector<Versions> out;
    for (std::size_t first = 0;;) {
        const Writers rest(writers.begin() + std::ptrdiff_t(first), writers.end());
        out.push_back(ancestry(history, bytes, rest, true));
        const SaveRecord *writer = writerOf(history, rest, bytes);
        if (writer == nullptr || !unsure(history, *writer))
            return out;
        while (findSave(history, writers[first], bytes) != writer)
            ++first;
        ++first;
    }
}

// The latest version in both `a` and `b`: the one whose later save in
// either is the latest; none when there is none, or two are equally late
// and which one holds cannot be told.
std::optional<std::string> latestCommon(const Versions &a, const Versions &b)
{
    std::optional<std::string> best;
    std::pair<std::int64_t, std::int64_t> bestTime {kNoSave, kNoSave};
    bool tied = false;
    for (const auto &[key, inA] : a) {
        const auto inB = b.find(key);
        if (inB == b.end())
            continue;
        const std::pair time {
            std::min(inA.time, inB->second.time), std::min(inA.ms, inB->second.ms)};
        if (best && time == bestTime) {
            tied = true;
        } else if (!best || time > bestTime) {
            best = std::string(inA.bytes);
            bestTime = time;
            tied = false;
        }
    }
    if (tied)
        return std::nullopt;
    return best;
}

// The files of the saves whose counts a sync program dropped from the data
// file holding `bytes`, written by one of `writers`: it met the same bytes on
// two computers, and kept one. Each such save wrote the bytes of a version
// the file descends from, on another computer than that version's writer,
// and is settled, though neither the file nor a later save of it descends
// from it. Only where the two histories meet: a save from a version the
// file's history does not show may be one it descends from, through records
// since gone.
std::vector<std::string> droppedFiles(
    const std::vector<ComputerSaves> &history, const Writers &writers, const std::string &bytes)
{
    const Versions file = ancestry(history, bytes, writers);
    std::set<std::string> dropped;
    for (const auto &[key, version] : file) {
        const SaveRecord *writer = version.save;
        if (writer == nullptr)
            continue;
        for (const ComputerSaves &computer : history) {
            for (const SaveRecord &save : computer.saves) {
                if (save.written != version.bytes || !save.swapping.empty()
                    || computer.computer.empty()
                    || computer.computer == *computerOf(history, writer)
                    || file.count(versionKey(save.written, &save, history))
                    || carriedOn(history, save))
                    continue;
                const Versions other
                    = ancestry(history, save.written, {SaveId {computer.computer, save.ms}});
                if (latestCommon(file, other))
                    dropped.insert(save.written);
            }
        }
    }
    return {dropped.begin(), dropped.end()};
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
        for (std::size_t i = 0; i < save.replaced.size(); ++i) {
            for (const SaveId &from : i < save.from.size() ? save.from[i] : Writers())
                out.append("from " + std::to_string(from.ms) + ' ' + from.computer)
                    .append(kLineEnd);
            block("replaced", save.replaced[i]);
        }
        if (!save.swapping.empty())
            out.append("swapping " + save.swapping).append(kLineEnd);
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
            Writers from;
            while (from.size() < 100 && reader.optional("from", line)) {
                SaveId &id = from.emplace_back();
                const std::size_t space = line.find(' ');
                if (space == line.npos || space + 1 == line.size()
                    || !toNumber(std::string_view(line).substr(0, space), id.ms))
                    return Status::failure(0, "it is incomplete or damaged");
                id.computer = line.substr(space + 1);
            }
            if (!reader.block("replaced", bytes))
                return Status::failure(0, "it is incomplete or damaged");
            save.replaced.emplace_back(bytes);
            save.from.push_back(std::move(from));
        }
        if ((reader.optional("swapping", save.swapping) && save.swapping.empty())
            || !reader.block("written", bytes))
            return Status::failure(0, "it is incomplete or damaged");
        save.written = std::string(bytes);
        read.push_back(std::move(save));
    }
    saves = std::move(read);
    return Status::success();
}

Writers writersOf(const std::vector<ComputerSaves> &history, const std::string &bytes)
{
    return writersThat(history, bytes, [](const SaveRecord &) { return true; });
}

bool countsDropped(const std::vector<ComputerSaves> &history, const std::string &fileBytes)
{
    return !droppedFiles(history, writersOf(history, fileBytes), fileBytes).empty();
}

void keepSave(std::vector<SaveRecord> &saves, SaveRecord save)
{
    saves.push_back(std::move(save));
    if (saves.size() > kSavesKept)
        saves.erase(saves.begin(), saves.end() - kSavesKept);
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
    // The file with the copies merged so far, as a save of its own: a copy
    // that descends from one merged before it adds only what is new in it.
    // No record keeps these steps: they are saves of no computer.
    history.push_back({{}, {}});
    std::string current = fileBytes;
    Writers previous = merge.from.empty() ? Writers() : merge.from[0];
    // Counts a sync program dropped are merged as the copy it did not make.
    std::vector<std::string> all = copies;
    const std::vector<std::string> dropped = droppedFiles(history, previous, fileBytes);
    all.insert(all.end(), dropped.begin(), dropped.end());
    std::vector<CopyOutcome> outcomes(all.size());
    // A copy that descends from another, its history the longer, goes first:
    // it may hold that one merged with versions the file holds too, which,
    // merged after the other, would be taken as the later common version.
    const Versions ofStart = ancestry(history, current, previous);
    std::vector<std::size_t> order, known;
    for (const std::string &bytes : all) {
        order.push_back(order.size());
        known.push_back(ancestry(history, bytes, copyWriters(history, ofStart, bytes)).size());
    }
    std::stable_sort(order.begin(), order.end(),
        [&known](std::size_t a, std::size_t b) { return known[a] > known[b]; });
    for (const std::size_t c : order) {
        const std::string &bytes = all[c];
        CopyOutcome &outcome = outcomes[c];
        Tallies copy;
        Tallies base;
        outcome.problem = parseDataFile(bytes, copy.leagues, copy.events);
        if (!outcome.problem.ok) {
            outcome.kind = CopyOutcome::Kind::Unreadable;
            continue;
        }
        // The version the copy and the file both descend from.
        const std::vector<Versions> ofFile = readings(history, current, previous);
        const Writers writer = copyWriters(history, ofFile.front(), bytes);
        // Merged only where every reading of the records finds the same.
        std::vector<std::optional<std::string>> found;
        for (const Versions &a : ofFile) {
            for (const Versions &b : readings(history, bytes, writer))
                found.push_back(latestCommon(a, b));
        }
        std::optional<std::string> common = found.front();
        if (std::count(found.begin(), found.end(), common) != std::ptrdiff_t(found.size()))
            common.reset();
        if (!common || !parseDataFile(*common, base.leagues, base.events).ok)
            continue; // its lines are told once every other copy is in

        RestoreResult merged = mergeCopy(base, copy, file);
        outcome.refused = std::move(merged.refused);
        // What it counted, but for the lines that cannot be placed.
        for (const RecoveredLine &line : differingLines(base, copy)) {
            // A line the copy lacks (renamed or deleted there) adds nothing.
            const TallyTable &table = line.league ? copy.leagues : copy.events;
            bool inCopy = false;
            for (int j = 0; j < table.used(); ++j)
                inCopy = inCopy || table.name(j) == line.name;
            if (inCopy
                && std::none_of(outcome.refused.begin(), outcome.refused.end(), [&](const auto &r) {
                       return r.line.league == line.league && r.line.name == line.name;
                   }))
                outcome.counted.push_back(line);
        }
        // Dropped counts merge only whole, and only where there are some.
        const bool isDropped = c >= copies.size();
        if (isDropped && outcome.counted.empty())
            continue;
        outcome.kind = outcome.refused.empty() || (takeRefused && !isDropped)
            ? CopyOutcome::Kind::Merged
            : CopyOutcome::Kind::Refused;
        if (outcome.kind != CopyOutcome::Kind::Merged)
            continue;
        file = std::move(merged.restored);
        merge.from.resize(merge.replaced.size());
        merge.replaced.push_back(bytes);
        merge.from.push_back(writer);
        SaveRecord step {merge.ms + std::int64_t(merge.replaced.size()), {current, bytes},
            formatDataFile(file.leagues, file.events), {previous, merge.from.back()}};
        previous = {SaveId {{}, step.ms}};
        current = step.written;
        history.back().saves.push_back(std::move(step));
    }
    for (std::size_t i = 0; i < copies.size(); ++i) {
        Tallies copy;
        if (outcomes[i].kind == CopyOutcome::Kind::Unrelated
            && parseDataFile(copies[i], copy.leagues, copy.events).ok)
            outcomes[i].counted = differingLines(file, copy);
    }
    // Dropped counts not merged are no copy to tell of.
    outcomes.erase(std::remove_if(outcomes.begin() + std::ptrdiff_t(copies.size()), outcomes.end(),
                       [](const CopyOutcome &o) { return o.kind != CopyOutcome::Kind::Merged; }),
        outcomes.end());
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
