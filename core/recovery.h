#pragma once

#include "data_format.h"
#include "merge.h"
#include "status.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostally {

// What a window holds that the data file lacks: the data file as the window
// last read or wrote it, and the window's tables. The merge of a save adds
// the difference to the data file as it is at any later time.
struct Recovery {
    std::int64_t writtenMs = 0; // when it was written, in ms since 1970 UTC
    // The computer whose window wrote it; empty in files older than that.
    // A sync program brings other computers' files, never offered here.
    std::string computer;
    int changes = 0; // how many Adds, Removes and Resets it holds
    std::string base; // the data file's bytes as the window last read or wrote them
    Tallies baseTables; // `base` as it reads
    Tallies window; // the window's tables, with `base`'s names in its order
    Resets resets; // the lists reset in the window since `base`
    // The name of the new data file that a save of these counts was about to
    // swap in when this was written, else empty. Once that file is gone, the
    // save went through (or was undone while the window still ran, which then
    // wrote this file again), and these counts are in data.txt.
    std::string saving;
    // Recovery files restored into the window and maybe not yet deleted, by
    // name and `writtenMs`: their counts are in this one, so they go unoffered.
    std::vector<std::pair<std::string, std::int64_t>> includes;
};

// The bytes of a recovery file for `recovery`: a first line naming the form,
// then the time, the computer, the number of changes, the Resets, the save under way and
// the files included if any, and both data files, each preceded by its size in bytes so that no
// byte of them needs escaping.
std::string formatRecovery(const Recovery &recovery);

// Reads a recovery file into `recovery`, `baseTables` too. Fails, leaving it
// untouched, for what formatRecovery() cannot have written: another form, a
// cut file, a base that does not parse, or a window not of its base's names.
Status parseRecovery(std::string_view text, Recovery &recovery);

// One line whose count the window changed: its count in the base and in the
// window.
struct RecoveredLine {
    bool league = false; // else an event
    std::string name; // the name's bytes
    std::int64_t before = 0;
    std::int64_t after = 0;
};

// The lines whose counts differ between the base and the window, leagues
// first, each table in its order.
std::vector<RecoveredLine> changedLines(const Recovery &recovery);

// The outcome of putting a recovery into a data file.
struct RestoreResult {
    // A change that could not be placed: its line's counts (a refused Reset
    // has no name), and why.
    struct Refusal {
        RecoveredLine line;
        MergeRefusal::Kind why;
    };

    Tallies restored; // the file with every change that could be placed added
    std::vector<Refusal> refused;
    Resets resets; // the Resets restored: `restored` holds what was counted since
};

// Adds the recovery's changes to `file` (the data file as it is now) with the
// merge a save uses. A change the merge refuses (its line renamed or deleted
// since, or a count out of range) is left out and named in `refused`; every
// other change still goes in. A Reset of a list changed in the file since is
// refused with the counts made after it: that list stays as the file has it.
RestoreResult restoreRecovery(const Recovery &recovery, const Tallies &file);

} // namespace hostally
