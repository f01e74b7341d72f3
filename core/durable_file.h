#pragma once

#include "status.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Replacing and deleting small files so that a crash, a power cut or a full
// disk never leaves one half written: the one way data.txt and the recovery
// files reach the disk.

namespace hostally {

// A failure about the file at `path`, which it names as messages show paths.
Status fileFailure(
    const QString &path, const QString &message, Status::Cause cause = Status::Cause::Other);

// The failure of a file another program holds without sharing it.
Status heldByAnotherProgram(const QString &path);

// Runs `attempt` again, for two seconds at most, while it fails because
// another program holds the file at `path` (as only Windows allows). Returns
// whether the file was still held when the last attempt failed.
bool retryWhileHeld(const QString &path, const std::function<bool()> &attempt);

// `handler` is called with true when a file starts waiting for another
// program or another Hostally to let go of it, and with false when it ends.
void setWaitHandler(std::function<void(bool waiting)> handler);

// Calls the handler set by setWaitHandler, if any: for a wait done elsewhere.
void announceWait(bool waiting);

// Keeps QLockFile's warning that it cannot delete its lock file (its folder
// gone or read-only) off stderr. Called before making a lock.
void quietLockFileWarnings();

// How far a durable write got.
enum class Replaced {
    No, // the file is as it was
    Superseded, // the new file was ready, but `stillCurrent` said no: as No
    Yes, // the file holds the new bytes, though perhaps not yet on the disk
};

// What a durable write asks its caller just before the swap.
struct SwapChecks {
    // Whether the bytes are still what to write; no means Replaced::Superseded.
    std::function<bool()> stillCurrent;
    // Told the new file's name in the folder once it is on the disk; a
    // failure stops the write there, with that status.
    std::function<Status(const QString &newName)> beforeSwap;
    // After a beforeSwap, told that no swap happened, the new file still there.
    std::function<void()> swapFailed;
    // False for news a crash may lose: the file is still never half written,
    // but neither it nor the folder is synced, which on a slow disk takes long.
    bool toDisk = true;
};

// Replaces the plain file at `path` (or makes it) with `bytes`: they are
// written to a new file beside it and put on the disk, which is then renamed
// over `path` and the folder synced. The new file keeps the old one's mode
// exactly and, where the system allows, its owner and group. On failure no
// new file remains and `replaced` says whether `path` holds the new bytes:
// after the swap only syncing the folder can fail. Never waits: a file another
// program holds fails with Status::Cause::InUse.
Status writeDurably(const QString &path, const QByteArray &bytes, Replaced &replaced,
    const SwapChecks &checks = {});

// Deletes the file at `path`, waiting for a program that holds it, and syncs
// its folder so that a power cut cannot bring it back; a file gone is a success.
Status removeDurably(const QString &path);

// The steps of writeDurably and removeDurably at which tests may stop them.
enum class FileStep {
    Start, // nothing done yet: a Fail is a write or a deletion refused
    Written, // the new file is on the disk, nothing renamed yet
    Swapped, // the new file has the path's name, the folder is not synced
    Removed, // the file is deleted, the folder is not synced
};

// What a test makes of a step.
enum class Injected {
    Proceed,
    Fail, // the step fails, as on a failing disk
    Crash, // the program dies here: everything stays as it is on the disk
};

// For tests: `hook` (when set) is asked at each step which file operation to
// fail or to end as a crash would.
void setFileHookForTesting(std::function<Injected(FileStep step, const QString &path)> hook);

} // namespace hostally
