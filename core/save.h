#pragma once

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
};

// The outcome of saveTallies: saved, a question for the user, or a failure.
struct SaveResult {
    enum class Kind { Saved, NeedsAnswer, Failed };

    Kind kind = Kind::Failed;
    // Saved, and Failed when `replaced` is true: data.txt now holds `base`,
    // written from `tallies`; `merged` when those are the file's counts with
    // the window's changes added rather than the window's own.
    bool replaced = false;
    QByteArray base;
    Tallies tallies;
    bool merged = false;
    // NeedsAnswer.
    SaveQuestion question = SaveQuestion::None;
    Status problem; // Unreadable, Unparsable: what the read found
    MergeResult refusal; // Refused
    // Failed: what went wrong, naming the file; also for a question's problem.
    Status status;
};

// Saves a window's counts into the data file at `path` as it is now, one save
// at a time: under a lock beside the file it names, held from reading it to
// having the new file in place, the window's changes since `base` are added
// to data.txt, or, while data.txt is still `base`, the window's tables are
// written. A file changed again before the swap is merged again. Where the
// changes cannot be added, returns NeedsAnswer holding no lock; asked again
// with `answeredYes`, it reads the file anew and, if some changes still cannot
// be added, writes every change that can (or the window's tables, when the
// file cannot be read). A data file that is gone is a failure with
// Status::Cause::Missing. Saved means on the disk; on failure data.txt is as
// it was unless `replaced` says otherwise.
SaveResult saveTallies(const QString &path, const SaveRequest &request);

} // namespace hostally
