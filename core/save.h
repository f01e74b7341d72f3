#pragma once

#include "durable_file.h"
#include "merge.h"
#include "status.h"

#include <QByteArray>
#include <QString>


namespace hostally {

// What a window's Save asks for: its tables and what data.txt held when the
// window last read or wrote it.
struct SaveRequest {
    QByteArray base; // data.txt's bytes as the window last read or wrote them
    Tallies window; // the window's tables, `base`'s names in `base`'s order
    Resets resets; // the window's lists reset since `base`
    bool answeredYes = false; // the user answered Yes to the question of a former call
};

// Why a save needs the user's answer before it can go on.
enum class SaveQuestion {
    None,
    Unreadable, // data.txt cannot be read now: `problem` says why
    Unparsable, // data.txt no longer reads as a data file: `problem` says why
    Refused, // the window's changes cannot be added to it: `refusal` says why
    Missing, // data.txt is gone from a folder that is still there
};

// The outcome of saveTallies: saved, a question for the user, or a failure.
struct SaveResult {
    enum class Kind { Saved, NeedsAnswer, Failed };

    Kind kind = Kind::Failed;
    // Saved: data.txt now holds `base`, written from `tallies`; `merged` when
    // those are the file's counts with the window's changes added rather than
    // the window's own. `status` not ok when the folder could not be synced:
    // then the new data.txt may not be on the disk yet.
    QByteArray base;
    Tallies tallies;
    bool merged = false;
    // NeedsAnswer.
    SaveQuestion question = SaveQuestion::None;
    Status problem; // Unreadable, Unparsable: what the read found
    MergeResult refusal; // Refused
    // Failed: what went wrong, naming the file, with data.txt as it was.
    Status status;
};

// What a save tells its caller on the way: its SwapChecks, and that it is
// about to wait for another Hostally's save.
struct SaveHooks : SwapChecks {
    std::function<void()> beforeWaiting;
};

// Saves a window's counts into the data file at `path` as it is now, one save
// at a time: under a lock beside the file it names, held from reading it to
// having the new file in place, the window's changes since `base` are added
// to data.txt, or, while data.txt is still `base`, the window's tables are
// written. A file changed again before the swap is merged again. Where the
// changes cannot be added, returns NeedsAnswer holding no lock; asked again
// with `answeredYes`, it reads the file anew and, if some changes still cannot
// be added, writes every change that can (or the window's tables, when the
// file cannot be read or is gone). A data file whose folder is gone too is a
// failure with Status::Cause::Missing. On failure data.txt is as it was.
SaveResult saveTallies(
    const QString &path, const SaveRequest &request, const SaveHooks &hooks = {});

} // namespace hostally
