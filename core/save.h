#pragma once

#include "conflict_copies.h"
#include "durable_file.h"
#include "merge.h"
#include "status.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace hostally {

// What a window's Save asks for: its tables and what data.txt held when the
// window last read or wrote it.
struct SaveRequest {
    QByteArray base; // data.txt's bytes as the window last read or wrote them
    Tallies window; // the window's tables, `base`'s names in `base`'s order
    Resets resets; // the window's lists reset since `base`
    bool answeredYes = false; // the user answered Yes to the question of a former call
    // Conflict copies some of whose counts cannot be placed are merged too,
    // but for those: the user answered Yes to their question.
    bool takeRefusedCopies = false;
    bool onlyCopies = false; // nothing is written unless a conflict copy is merged
};

// Why a save needs the user's answer before it can go on.
enum class SaveQuestion {
    None,
    Unreadable, // data.txt cannot be read now
    Unparsable, // data.txt no longer reads as a data file
    Refused, // some of the window's changes cannot be added to it
    Missing, // data.txt is gone from a folder that is still there
};

// What a save wrote: data.txt's bytes now, the tables they hold, and whether
// those are the file's counts with the window's changes added.
struct Saved {
    QByteArray bytes;
    Tallies tallies;
    bool merged = false;
};

// The outcome of saveTallies.
struct SaveResult {
    // Saved: not ok when the folder's sync failed. Else why not, naming the
    // file, with data.txt as it was (for Unreadable and Unparsable, the read's).
    Status status;
    std::optional<Saved> saved;
    SaveQuestion question = SaveQuestion::None; // not None: nothing saved, for want of an answer
    std::vector<MergeRefusal> refusals; // for Refused, each change refused
    // The conflict copies found, and what became of them; those merged are
    // deleted once saved.
    std::vector<CopyReport> copies;
};

// What a save tells its caller on the way, and how long it waits.
struct SaveHooks : SwapChecks {
    std::function<void()> beforeWaiting; // before waiting for another Hostally's save
    // A save holds its lock a moment, a slow disk (a USB stick, a share) some
    // seconds: an older lock whose holder is not running here is a crash's.
    int staleLockMs = 15000;
    // Long enough for a slow save to end, and for a crash's lock to go stale.
    int lockWaitMs = 20000;
    QString computer = computerName(); // whose record of saves this save goes in
};

// Saves a window's counts into the data file at `path` as it is now, one save
// at a time: under a lock beside the file it names, held from reading it to
// having the new file in place, the window's changes since `base` are added
// to data.txt, or, while data.txt is still `base`, the window's tables are
// written. The sync program's conflict copies of data.txt are merged into it
// first, and the save is recorded, with the copies, in this computer's record
// before the swap. A file changed again before the swap is merged again. Where the
// changes cannot be added, returns a question, holding no lock; asked again
// with `answeredYes`, it reads the file anew and, if some changes still cannot
// be added, writes every change that can (or the window's tables, when the
// file cannot be read or is gone). A data file whose folder is gone too is a
// failure with Status::Cause::Missing. On failure data.txt is as it was.
SaveResult saveTallies(
    const QString &path, const SaveRequest &request, const SaveHooks &hooks = {});

} // namespace hostally
