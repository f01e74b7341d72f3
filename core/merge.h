#pragma once

#include "tally_table.h"

#include <string>
#include <vector>

namespace hostally {

// One change of the window that the merge could not place as it stands.
struct MergeRefusal {
    enum class Kind {
        NotInFile, // no line of the file has the line's name (renamed or deleted)
        RepeatedName, // the file has the line's name a different number of times
        OutOfRange, // the merged count would pass kCountLimit either way
        ResetChanged, // a list reset in the window was changed in the file
        NotInBase, // a conflict copy's line that its base lacks (added or renamed there)
    };

    Kind kind = Kind::NotInFile;
    bool league = false; // the line or list is a league, else an event
    int line = -1; // the line's index in the window's table; -1 for ResetChanged
    std::string name; // the line's name's bytes; empty for ResetChanged
};

// The outcome of a merge. `merged` is the file with every change of the window
// that could be placed: all of them when ok(). Lines refused stay as the file
// has them; a list refused as ResetChanged is still written as 0 plus what
// the window counted since the Reset.
struct MergeResult {
    Tallies merged;
    std::vector<MergeRefusal> refusals; // leagues first, each in the window's order

    bool ok() const { return refusals.empty(); }
};

// The line of `to` that is line `line` of `from`: the one whose name shows the
// same text, the i-th line of a name being the i-th line of that name; -1 when
// `to` has no such line.
int sameLine(const TallyTable &from, int line, const TallyTable &to);

// Adds the window's changes since `base` (what the window last read or wrote)
// to `file` (the data file as it is now). A line's change is its count in
// `window` less its count in `base`; it goes to the file's line whose name
// shows the same text, in the same table, the i-th of that name to the i-th,
// and only when the file has that name as many times as `base`. A removal
// lowers a count that is not negative at most to 0, as Remove does. A list in
// `resets` is written as 0 plus the window's counts, and is refused when the
// file's list is not `base`'s. Lines the window did not change need no match;
// the file's own names, order and counts stay. `window` must have `base`'s
// names in `base`'s order.
MergeResult mergeTallies(
    const Tallies &base, const Tallies &window, const Tallies &file, Resets resets = {});

} // namespace hostally
