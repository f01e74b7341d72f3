// Feeds arbitrary bytes to the data file parser. Beyond not crashing, every
// accepted input must survive a write and a re-read unchanged, and writing
// must be idempotent. Every entry line must read as UTF-8 exactly when its
// name does, since the window decodes the line by that decision. Two windows
// opened on an accepted file and changed by steps drawn from its bytes must
// merge as saves do: into an unchanged file, a window's counts as they are;
// one after the other, the same file whichever saves first while no count is
// negative. A window's batch, a log and a recovery file that read write back
// as they read.
#include "batch.h"
#include "data_format.h"
#include "log.h"
#include "name_text.h"
#include "recovery.h"

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
    Log log, logAgain;
    if (parseLog(text, log).ok
        && (!parseLog(formatLog(log), logAgain).ok || formatLog(logAgain) != formatLog(log)))
        std::abort();
    Recovery recovery, recoveryAgain;
    if (parseRecovery(text, recovery).ok
        && (!parseRecovery(formatRecovery(recovery), recoveryAgain).ok
            || formatRecovery(recoveryAgain) != formatRecovery(recovery)))
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
    const Applied alone = apply(diff(base, first), base, RefusedReset::Zeros);
    const Applied oneWay = apply(diff(base, second), first, RefusedReset::Zeros);
    const Applied otherWay = apply(diff(base, first), second, RefusedReset::Zeros);
    // Removals stop at 0 as Remove does, so with a negative count the order
    // of the saves can matter.
    bool negative = false;
    for (const TallyTable *table : {&base.leagues, &base.events}) {
        for (int i = 0; i < table->used(); ++i)
            negative = negative || table->count(i) < 0;
    }
    if (!alone.ok() || !(alone.tallies == first) || oneWay.ok() != otherWay.ok()
        || (oneWay.ok() && !negative && !(oneWay.tallies == otherWay.tallies)))
        std::abort();
    // A batch as a log keeps it reads back as it was.
    Batch kept;
    std::string lines;
    formatBatch(diff(base, first), lines);
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find("\r\n", at);
        if (!parseBatchLine(std::string_view(lines).substr(at, end - at), kept))
            std::abort();
        at = end + 2;
    }
    if (!(apply(kept, base, RefusedReset::Zeros).tallies == first))
        std::abort();
    return 0;
}
