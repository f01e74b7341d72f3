#pragma once

#include "data_format.h"

#include <string>

namespace hostally {

// Both tables of one data file, or of one window.
struct Tallies {
    TallyTable leagues {kLeagueCapacity};
    TallyTable events {kEventCapacity};

    friend bool operator==(const Tallies &a, const Tallies &b)
    {
        return a.leagues == b.leagues && a.events == b.events;
    }
};

// The outcome of a merge: the merged tables, or the first line of the window
// that could not be placed in the file, and why.
struct MergeResult {
    enum class Refusal {
        None,
        NotInFile, // no line of the file has the line's name (renamed or deleted)
        OutOfRange, // the merged count would pass kCountLimit either way
    };

    Tallies merged; // when refusal is None
    Refusal refusal = Refusal::None;
    bool league = false; // the line refused is a league, else an event
    int line = -1; // its index in the window's table
    std::string name; // its name's bytes

    bool ok() const { return refusal == Refusal::None; }
};

// The line of `to` that is line `line` of `from`: the one of the same name,
// the i-th line of a name being the i-th line of that name; -1 when `to` has
// no such line.
int sameLine(const TallyTable &from, int line, const TallyTable &to);

// Adds the window's changes since `base` (what the window last read or wrote)
// to `file` (the data file as it is now). A line's change is its count in
// `window` less its count in `base`; it goes to the file's line of the same
// name in the same table, the i-th of that name to the i-th. Lines the window
// did not change need no match; the file's own names, order and counts stay.
// `window` must have `base`'s names in `base`'s order.
MergeResult mergeTallies(const Tallies &base, const Tallies &window, const Tallies &file);

} // namespace hostally
