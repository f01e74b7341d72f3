#pragma once

#include "batch.h"
#include "status.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostally {

// What one window holds that data.txt lacks, as its recovery file keeps it:
// the window's batch, under an id of its own. A save gives the window a new
// id; its log entry names the ids it saved, and after that no file of theirs
// is offered again.
struct Recovery {
    std::string id;
    std::int64_t writtenMs = 0; // when, in ms since 1970 UTC: only for the words of the offer
    // The recovery files restored into this window, by id: its batch holds theirs.
    std::vector<std::string> consumes;
    Batch batch;

    // Files of the older form, which named no id: the host name of the
    // computer that wrote it (empty in the oldest), the new data file a save
    // was about to swap in, and the files restored into it.
    std::string computer;
    std::string saving;
    std::vector<std::pair<std::string, std::int64_t>> includes;
};

// The bytes of a recovery file: a first line naming the form, the id, the
// time, the ids it holds, then its batch.
std::string formatRecovery(const Recovery &recovery);

// Reads a recovery file, of this form or the older one, into `recovery`.
// Fails, leaving it untouched, for what no Hostally can have written.
Status parseRecovery(std::string_view text, Recovery &recovery);

// How many changes the batch holds: each Reset, and each line whose count changed.
int changeCount(const Batch &batch);

} // namespace hostally
