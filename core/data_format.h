#pragma once

#include "status.h"
#include "tally_table.h"

#include <string>
#include <string_view>

namespace hostally {

// Parses the text of a data file: three league records, then up to 100 event
// records. On success fills `leagues` (capacity 3) and `events` (capacity 100)
// with their totals; on failure leaves both untouched and says where and why.
Status parseDataFile(std::string_view text, TallyTable &leagues, TallyTable &events);

// The UTF-8 byte-order mark that Notepad's "UTF-8 with BOM" starts a file with.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The exact bytes of a data file for both tables: kByteOrderMark when asked
// for, then each name in double quotes, each count in decimal, every line
// ended by CR LF; the three leagues first, then the used event slots.
std::string formatDataFile(
    const TallyTable &leagues, const TallyTable &events, bool byteOrderMark = false);

} // namespace hostally
