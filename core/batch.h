#pragma once

#include "tally_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostally {

// One line that a batch changes: which line it is (its list, its name, and
// which of the lines showing that name), and its count before and after.
struct BatchLine {
    bool league = false; // else an event
    std::string name; // the name's bytes
    int nth = 0; // 0: the first line showing this name in its list, 1: the second...
    int of = 1; // how many lines of the list showed the name
    std::int64_t before = 0;
    std::int64_t after = 0; // in a reset list, what was counted since the Reset
};

// What one window's changes add to data.txt: a signed change for each line
// it counted, and the lists it reset before them. A reset list has all its
// lines, so that a save can tell whether the list changed since.
struct Batch {
    std::vector<BatchLine> lines; // leagues first, each list in its order
    Resets resets;

    bool empty() const { return lines.empty() && !resets.any(); }
};

// The batch of a window that read `base` and shows `window`, `base`'s names
// in `base`'s order, with the lists `resets` reset since.
Batch diff(const Tallies &base, const Tallies &window, Resets resets = {});

// A change of a batch that cannot go into a data file as it stands.
struct Refusal {
    enum class Kind {
        NotInFile, // no line of the file has the line's name (renamed or deleted)
        RepeatedName, // the file has the name a different number of times
        OutOfRange, // the count would pass kCountLimit either way
        ResetChanged, // a list reset in the batch was changed in the file since
    };

    Kind kind = Kind::NotInFile;
    BatchLine line; // for ResetChanged only `league` is set
};

// What a refused Reset leaves: a save writes the list as 0 plus what was
// counted since, as the window shows it; a replayed batch (recovery files,
// conflict copies) leaves the list as the file has it, with those counts.
enum class RefusedReset { Zeros, ListKept };

// A batch put into a data file.
struct Applied {
    Tallies tallies; // the file with every change that could be placed
    std::vector<Refusal> refused; // leagues first, each list in its order
    Resets resets; // the Resets that went in

    bool ok() const { return refused.empty(); }
};

// Adds `batch` to `view`, the data file as it is now. A line's change goes to
// the line whose name shows the same text (name_text.h), in the same list, the
// i-th of that name to the i-th, only where the file has that name as many
// times as the batch's window had; a removal lowers a count that is not
// negative at most to 0, as Remove does. A reset list starts from zeros, and
// is refused where the file's list is not what the batch's window read. The
// file's own names, order and other counts stay.
Applied apply(const Batch &batch, const Tallies &view, RefusedReset refusedReset);

// The line of `to` that is line `line` of `from`: the i-th line showing a
// name's text is the i-th line showing it; -1 when `to` has no such line.
int sameLine(const TallyTable &from, int line, const TallyTable &to);

// The lines `to` counts differently from `from`, as changes from `from`'s
// count to `to`'s; a line of one only is listed with 0 for the other.
std::vector<BatchLine> differingLines(const Tallies &from, const Tallies &to);

// Appends `batch` to `out` as lines of a Hostally file: "reset leagues",
// "reset events", then "line L|E <nth> <of> <before> <after> <name>".
void formatBatch(const Batch &batch, std::string &out);

// Reads one line formatBatch() wrote into `batch`; false for any other.
bool parseBatchLine(std::string_view text, Batch &batch);

} // namespace hostally
