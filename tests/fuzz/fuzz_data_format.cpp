// Feeds arbitrary bytes to the data file parser. Beyond not crashing, every
// accepted input must survive a write and a re-read unchanged, and writing
// must be idempotent.
#include "data_format.h"

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
    return 0;
}
