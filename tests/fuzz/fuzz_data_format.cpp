// Feeds arbitrary bytes to the data file parser. Beyond not crashing, every
// accepted input must survive a write and a re-read unchanged, and writing
// must be idempotent. Every entry line must read as UTF-8 exactly when its
// name does, since the window decodes the line by that decision.
#include "data_format.h"
#include "name_text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace hostally;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    if (!parseDataFile(text, leagues, events).ok) {
        // A rejected input must leave the tables as they were.
        if (leagues.used() != 0 || events.used() != 0)
            std::abort();
        return 0;
    }

    const std::string written = formatDataFile(leagues, events);
    TallyTable leagues2(kLeagueCapacity);
    TallyTable events2(kEventCapacity);
    if (!parseDataFile(written, leagues2, events2).ok)
        std::abort();
    if (leagues2 != leagues || events2 != events)
        std::abort();
    if (formatDataFile(leagues2, events2) != written)
        std::abort();
    for (const TallyTable *table : {&leagues, &events}) {
        for (int i = 0; i < table->used(); ++i) {
            const std::string line = table->entryLine(i);
            if (line.compare(0, table->name(i).size(), table->name(i)) != 0
                || isUtf8Name(line) != isUtf8Name(table->name(i)))
                std::abort();
        }
    }
    return 0;
}
