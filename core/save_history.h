#pragma once

#include "recovery.h"
#include "status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A sync program copies each computer's data.txt to the others some time
// later. Two computers that save before the copying keep one version as
// data.txt and the other in a conflict copy beside it. Each computer records
// its last saves, so that the version both started from can be found and
// only what was counted since is added.

namespace hostally {

// How many saves each computer's record keeps: enough for some days offline,
// and a file of some tens of kilobytes at most.
constexpr std::size_t kSavesKept = 8;

// A save as another names it: no two of one computer's saves share a time.
struct SaveId {
    std::string computer;
    std::int64_t ms = 0;
};

// The saves that may have written a file, latest first: those of another
// computer's that a crash may have ended before their swap, down to the
// latest that surely swapped. The first still recorded wrote it; while that
// one is unsure, so is everything the file descends from.
using Writers = std::vector<SaveId>;

// One save: the data file it replaced and the one it wrote. A save that
// merged conflict copies replaced those too, so data.txt descends from them.
struct SaveRecord {
    std::int64_t ms = 0; // when, in ms since 1970 UTC by the saving computer's clock
    std::vector<std::string> replaced; // the data file first (empty when there was none)
    std::string written;
    // For each file replaced, in order, the saves that may have written it:
    // the same bytes may have been written by more than one.
    std::vector<Writers> from {};
    // The new data file's name beside data.txt, until its computer knows
    // the swap happened: while a file of that name is there, the save never
    // did (a crash before it). Another computer cannot tell which.
    std::string swapping {};
};

// One computer's record of its saves, oldest first.
struct ComputerSaves {
    std::string computer;
    std::vector<SaveRecord> saves;
};

// The bytes of a record file: a first line naming the form, then each save's
// time and files, each file preceded by its size in bytes.
std::string formatSaveRecords(const std::vector<SaveRecord> &saves);

// Reads a record file into `saves`; fails, leaving them untouched, for what
// formatSaveRecords() cannot have written.
Status parseSaveRecords(std::string_view text, std::vector<SaveRecord> &saves);

// The saves in `history` that a data file holding `bytes` may come from.
Writers writersOf(const std::vector<ComputerSaves> &history, const std::string &bytes);

// Appends `save` to `saves`, dropping the oldest beyond kSavesKept.
void keepSave(std::vector<SaveRecord> &saves, SaveRecord save);

// Adds to `file` what was counted in `copy` since `base`, with the merge a
// save uses. The copy's lines are matched with the base's by name; a line
// added or renamed in the copy since is refused as NotInBase with its count.
RestoreResult mergeCopy(const Tallies &base, const Tallies &copy, const Tallies &file);

// What became of one conflict copy.
struct CopyOutcome {
    enum class Kind {
        Merged, // its counts are in the file
        Refused, // some of its counts cannot be placed: nothing merged yet
        Unrelated, // no version it and the file both descend from is known
        Unreadable, // it does not read as a data file
    };

    Kind kind = Kind::Unrelated;
    // Merged, Refused: what its computer counted since the common version,
    // from that version's count to the copy's, but for the lines refused;
    // Unrelated: the lines it
    // counts differently from the file, from the file's count to the copy's.
    std::vector<RecoveredLine> counted;
    std::vector<RestoreResult::Refusal> refused; // Merged, Refused: what cannot be placed
    Status problem; // Unreadable: why
};

// Whether another computer's save wrote the bytes of `fileBytes` or of a
// version it descends from, from a history of its own: a sync program that
// meets the same bytes on both sides keeps one file and makes no conflict
// copy, so that save's counts are missing from it.
bool countsDropped(const std::vector<ComputerSaves> &history, const std::string &fileBytes);

// Adds to `file`, the data file's tables read from `fileBytes`, what was
// counted in each of `copies` since the version that it and the file both
// descend from, as the saves recorded show it: the latest in both, if no
// other is as late and neither descends through a save still marked
// `swapping`. The file was written by a save of `merge.from[0]`. A copy some of whose counts
// cannot be placed is merged, but for those, only with `takeRefused`. Each copy merged is recorded
// in `merge`, the save at hand, as a file it replaced, so that the copies after it, and the next
// start, know its counts are in the file. Where countsDropped(), the files
// of the saves dropped join as copies, their outcomes after the copies'
// where they merge: only whole, and only where they add something.
std::vector<CopyOutcome> mergeCopies(std::vector<ComputerSaves> history,
    const std::string &fileBytes, Tallies &file, const std::vector<std::string> &copies,
    bool takeRefused, SaveRecord &merge);

// The lines counted differently in `copy` and `file`, as changes from the
// file's count to the copy's; lines of one only are listed with 0 for the other.
std::vector<RecoveredLine> differingLines(const Tallies &file, const Tallies &copy);

} // namespace hostally
