#pragma once

#include "batch.h"
#include "locks.h"
#include "reconcile.h"
#include "status.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace hostally {

// What became of `me`'s save `entry` as every log and data.txt, the version `view`, show it.
enum class Fate {
    Done, // decided so, or a later save holds its batch, or data.txt is what it wrote
    NotDone, // data.txt is still what it read: its rename never happened
    Undecided, // nothing on the disk tells
};
Fate fateOf(
    const std::vector<Log> &logs, const std::string &me, const Entry &entry, std::uint64_t view);

// Why a save needs the user's answer before it can go on.
enum class SaveQuestion {
    None,
    Unreadable, // data.txt cannot be read now
    Unparsable, // data.txt no longer reads as a data file
    Refused, // some of the window's changes cannot be added to it
    Missing, // data.txt is gone from a folder that is still there
    SameBytes, // saves that held different batches wrote data.txt's bytes
    CopiesRefused, // some of a conflict copy's counts cannot be placed
};

// The user's answers to a save's questions so far.
struct Answers {
    bool replace = false; // Yes to Unreadable, Unparsable, Refused or Missing
    std::optional<bool> addMissing; // SameBytes: add the counts that may be missing
    std::optional<bool> takeRefusedCopies; // CopiesRefused; unasked, No but at start-up

    // Takes `yes` to `question`. Returns whether the save goes on: No to a
    // question about the window's own counts stops it.
    bool take(SaveQuestion question, bool yes);
};

// What a window's Save asks for.
struct SaveRequest {
    QByteArray base; // data.txt's bytes as the window last read or wrote them
    Tallies window; // the window's tables
    Batch batch; // what the window counted since `base`
    std::vector<std::string> consumed; // the recovery files whose counts it holds, by id
    Answers answers;
    bool onlyCopies = false; // start-up: data.txt is written only for a copy or missing counts
};

// What a save wrote, or found written: data.txt's bytes now, the tables they
// hold, and whether those are more than the window's own.
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
    std::vector<Refusal> refusals; // Refused: each change refused
    // SameBytes: the counts that may be missing, from data.txt's count, and whose.
    std::vector<BatchLine> missing;
    QStringList missingFrom;
    std::vector<BatchId> missingIds;
    // The conflict copies found, and what became of them; those merged are
    // deleted once saved.
    std::vector<CopyReport> copies;
};

// What a save tells its caller on the way, and how long it waits.
struct SaveHooks {
    std::function<void()> beforeWaiting; // before waiting for another Hostally's save
    SaveWaits waits;
};

// Saves a window's batch into the data file at `path` as it is now, one save
// at a time, under the lock beside it, as `computer`'s. The one commit: read
// data.txt; merge the conflict copies and the batch into it; when no byte
// changes, write nothing; else write the new file and put it on the disk,
// append the save's entry to this computer's log, look at data.txt once more
// (a file changed meanwhile is merged again) and rename the new file over
// it, then sync the folder. What became of this computer's last save before
// is decided first, from what is on the disk. Where the changes cannot be
// added, returns a question, holding no lock, to be asked again with the
// answer. A data file whose folder is gone is a failure with
// Status::Cause::Missing. On failure data.txt is as it was.
SaveResult saveTallies(const QString &path, const Computer &computer, const SaveRequest &request,
    const SaveHooks &hooks = {});

// Decides this computer's last save beside the data file at `path` as the
// disk shows it, under the saves' lock: one never renamed leaves the log,
// one done is noted so. Returns its log as it is then, every log in `logs`.
Log settleLastSave(const QString &path, const Computer &computer, std::vector<Log> &logs);

// Notes `ids` in this computer's log beside the data file at `path` as
// recovery files the user chose not to keep: a file of theirs that could not
// be deleted is never offered again.
Status noteDeclined(
    const QString &path, const Computer &computer, const std::vector<std::string> &ids);

} // namespace hostally
