// Feeds arbitrary bytes to the data file parser. Beyond not crashing, every
// accepted input must survive a write and a re-read unchanged, and writing
// must be idempotent. Every entry line must read as UTF-8 exactly when its
// name does, since the window decodes the line by that decision. Two windows
// opened on an accepted file and changed by steps drawn from its bytes must
// merge as saves do: into an unchanged file, a window's counts as they are;
// one after the other, the same file whichever saves first while no count is
// negative. The first window's file, as a sync program's conflict copy of
// the second's, adds what the save would, and once. A record of saves that
// reads writes back as it read.
#include "data_format.h"
#include "merge.h"
#include "name_text.h"
#include "save_history.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace {

using namespace hostally;

// A window opened on `base` after eight Add, Remove and Reset clicks drawn from `seed`.
Tallies windowAfterClicks(const Tallies &base, std::uint64_t seed)
{
    Tallies window = base;
    for (int click = 0; click < 8; ++click) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        TallyTable &table = seed >> 63 ? window.events : window.leagues;
        const int line = table.used() ? static_cast<int>((seed >> 32) % table.used()) : -1;
        if (line < 0)
            continue;
        if ((seed >> 20) % 8 == 0)
            table.reset();
        else if ((seed >> 20) % 8 < 4)
            table.remove(line);
        else
            table.add(line);
    }
    return window;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<SaveRecord> saves, again;
    if (parseSaveRecords(text, saves).ok
        && (!parseSaveRecords(formatSaveRecords(saves), again).ok
            || formatSaveRecords(again) != formatSaveRecords(saves)))
        std::abort();
    Tallies base;
    if (!parseDataFile(text, base.leagues, base.events).ok) {
        // A rejected input must leave the tables as they were.
        if (base.leagues.used() != 0 || base.events.used() != 0)
            std::abort();
        return 0;
    }

    const std::string written = formatDataFile(base.leagues, base.events);
    Tallies reread;
    if (!parseDataFile(written, reread.leagues, reread.events).ok || !(reread == base)
        || formatDataFile(reread.leagues, reread.events) != written)
        std::abort();
    for (const TallyTable *table : {&base.leagues, &base.events}) {
        for (int i = 0; i < table->used(); ++i) {
            const std::string line = table->entryLine(i);
            if (line.compare(0, table->name(i).size(), table->name(i)) != 0
                || isUtf8Name(line) != isUtf8Name(table->name(i)))
                std::abort();
        }
    }
    // Into an unchanged file a window's counts go as they are; two windows'
    // changes make one file whichever saves first.
    const std::uint64_t seed = std::hash<std::string_view>()(text);
    const Tallies first = windowAfterClicks(base, seed);
    const Tallies second = windowAfterClicks(base, ~seed);
    const MergeResult alone = mergeTallies(base, first, base);
    const MergeResult oneWay = mergeTallies(base, second, first);
    const MergeResult otherWay = mergeTallies(base, first, second);
    // Removals stop at 0 as Remove does, so with a negative count the order
    // of the saves can matter.
    bool negative = false;
    for (const TallyTable *table : {&base.leagues, &base.events}) {
        for (int i = 0; i < table->used(); ++i)
            negative = negative || table->count(i) < 0;
    }
    if (!alone.ok() || !(alone.merged == first) || oneWay.ok() != otherWay.ok()
        || (oneWay.ok() && !negative && !(oneWay.merged == otherWay.merged)))
        std::abort();
    const std::string ours = formatDataFile(second.leagues, second.events);
    const std::string theirs = formatDataFile(first.leagues, first.events);
    std::vector<ComputerSaves> history {
        {"A", {{1, {written}, theirs, {}}}}, {"B", {{2, {written}, ours, {}}}}};
    for (int start = 0; start < 2 && otherWay.ok() && ours != theirs; ++start) {
        Tallies file = start == 0 ? second : otherWay.merged;
        const std::string now = formatDataFile(file.leagues, file.events);
        SaveRecord merge {3, {now}, {}, {writersOf(history, now)}};
        mergeCopies(history, now, file, {theirs}, false, merge);
        if (!(file == otherWay.merged))
            std::abort();
        merge.written = formatDataFile(file.leagues, file.events);
        history[1].saves.push_back(merge);
    }
    return 0;
}
