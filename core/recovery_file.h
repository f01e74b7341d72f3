#pragma once

#include "recovery.h"
#include "status.h"

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLockFile;

namespace hostally {

// Recovery file `slot` (1, 2, ...) beside the data file at `dataPath`: the
// first window's is "data.txt.unsaved", the others' "data.txt.unsaved-2" and
// so on.
QString recoveryFilePath(const QString &dataPath, int slot);

// Replaces the file at `path` with `bytes` as a save does: written beside it,
// on the disk, then renamed over it, the folder synced. On failure nothing at
// `path` changed and the status says why.
Status writeRecoveryFile(const QString &path, const std::string &bytes);

// Reads the recovery file at `path`. On failure `recovery` is untouched and
// the status names the file and why it cannot be used.
Status readRecoveryFile(const QString &path, Recovery &recovery);

// Deletes the file at `path`; a file already gone is a success.
Status removeRecoveryFile(const QString &path);

// A recovery file whose window no longer runs.
struct LeftRecovery {
    QString path;
    // Held while the file is being offered, so that no Hostally starting
    // meanwhile offers it too; null for a file its caller already holds.
    std::shared_ptr<QLockFile> lock;
};

// One window's recovery file, held by a lock beside it ("<file>.lock", as
// QLockFile keeps it) from its first write for as long as the window runs,
// so that no other Hostally offers or deletes it. Writes happen on a thread
// of their own: the window never waits for the disk, except when it asks to.
class RecoveryFile {
public:
    // The recovery file of a window on the data file at `dataPath`. Its
    // first write takes the first slot that no running Hostally holds; where
    // the folder cannot be written, no slot and no file.
    explicit RecoveryFile(QString dataPath);

    // Waits for the writes asked for and releases the lock; the file stays.
    ~RecoveryFile();

    RecoveryFile(const RecoveryFile &) = delete;
    RecoveryFile &operator=(const RecoveryFile &) = delete;

    // The file's path once the first write has taken a slot, else empty.
    QString path() const;

    // Takes `left`'s file and lock as this window's own, when it has none
    // yet: the window now holds what that file held.
    void adopt(const LeftRecovery &left);

    // Has `bytes` written soon or, when they are empty, the file deleted,
    // replacing any write not yet started. Returns at once.
    void post(std::string bytes);

    // Writes `bytes` now, after the write under way, and returns once they
    // are on the disk; a write not yet started is dropped.
    Status writeNow(const std::string &bytes);

    // Deletes the file, after the write under way; a write not yet started
    // is dropped.
    Status remove();

    // The outcome of the last write or deletion made on the thread.
    Status lastWrite() const;

private:
    void run();
    // Drops the pending write and waits until the thread is idle; `lock`
    // holds m_mutex.
    void settle(std::unique_lock<std::mutex> &lock);
    // Writes `bytes`, or deletes the file when they are empty, taking a slot
    // first if there is none; called with the thread idle.
    Status apply(const std::string &bytes);
    // apply() with `lock` released meanwhile, marked as writing, its result
    // kept as the last write's.
    Status applyUnlocked(std::unique_lock<std::mutex> &lock, const std::string &bytes);

    const QString m_dataPath;
    QString m_path;
    std::shared_ptr<QLockFile> m_lock;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_pending;
    bool m_writing = false;
    bool m_stop = false;
    Status m_lastWrite;
    std::thread m_thread;
};

// The recovery files beside the data file at `dataPath` that no running
// Hostally holds, in the order of their slots: `own`'s file when it exists
// (left by a window that held the same slot) and every other one whose lock
// this call could take.
std::vector<LeftRecovery> findLeftRecoveries(const QString &dataPath, const RecoveryFile *own);

} // namespace hostally
