#pragma once

#include "status.h"

#include <QString>

#include <functional>
#include <memory>

class QLockFile;

// The lock files beside data.txt, as QLockFile keeps them: one that every
// save of data.txt holds, and one for each recovery file in use.

namespace hostally {

// How long saves wait for each other.
struct SaveWaits {
    // A save holds its lock a moment, a slow disk (a USB stick, a share) some
    // seconds: an older lock whose holder is not running here is a crash's.
    int staleLockMs = 15000;
    // Long enough for a slow save to end, and for a crash's lock to go stale.
    int lockWaitMs = 20000;
};

// Takes the lock that saves of the data file `target` hold, "<target>.lock",
// waiting for another save that holds it; `beforeWaiting` is called first.
// Where no lock can be made (a read-only folder, a full disk) the lock is
// returned unlocked and the save goes on without one, to succeed or say why
// not. Fails only when another save held it for all of `waits.lockWaitMs`.
std::unique_ptr<QLockFile> lockForSaving(const QString &target, const SaveWaits &waits,
    const std::function<void()> &beforeWaiting, Status &failure);

// Locks "<path>.lock" without waiting, for as long as the lock returned
// lives. A lock is stale only when the process that took it runs no more on
// this computer: however long a window stays open, its lock stays good.
// Null when another running Hostally holds it, or no lock can be made
// there; `folderFails` then says which.
std::shared_ptr<QLockFile> lockRecoveryFile(const QString &path, bool *folderFails = nullptr);

// Leaves the lock file of `lock` as a killed program's is left: there, naming
// this process, though nobody holds it. For tests.
void leaveLockAsKilled(std::shared_ptr<QLockFile> &lock);

} // namespace hostally
