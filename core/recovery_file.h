#pragma once

#include "recovery.h"
#include "status.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLockFile;

namespace hostally {

// Recovery file `slot` (1, 2, ...) of computer `computer` beside the data
// file at `dataPath`: "data.txt.unsaved-<computer>", then
// "data.txt.unsaved-<computer>-2" and so on. Without a computer, the older
// form's names: "data.txt.unsaved", "data.txt.unsaved-2"...
QString recoveryFilePath(const QString &dataPath, const std::string &computer, int slot);

// A recovery file that a window which no longer runs left beside data.txt.
struct Offer {
    QString path;
    std::shared_ptr<QLockFile> lock; // held while offered: no other start offers it
    Status read; // why it cannot be used, when it cannot: then it is kept as it is
    Recovery recovery; // what it holds, when it could be read
    // A save of its counts may have reached data.txt: nothing on the disk tells.
    bool maybeSaved = false;
};

// The recovery files of computer `computer` beside the data file at
// `dataPath`, and those of the older form, that no running Hostally holds,
// each read and locked by this call, in the order of their slots; with
// `alsoHeld`, those others hold too, read but not locked.
std::vector<Offer> findLeftRecoveries(
    const QString &dataPath, const std::string &computer, bool alsoHeld = false);

// One window's recovery file, held by a lock beside it from its first write
// until it is deleted, so that no other Hostally offers, deletes or
// overwrites it. Writes happen on a thread of their own: the window never
// waits for the disk, except when it asks to.
class RecoveryFile {
public:
    // The recovery file of a window of computer `computer` on the data file
    // at `dataPath`. Its first write takes the first slot whose file is not
    // there and that no running Hostally holds; where the folder cannot be
    // written, none.
    RecoveryFile(QString dataPath, std::string computer);

    // Waits for the writes asked for and releases the lock; the file stays.
    ~RecoveryFile();

    RecoveryFile(const RecoveryFile &) = delete;
    RecoveryFile &operator=(const RecoveryFile &) = delete;

    // The file's path once the first write has taken a slot, else empty.
    QString path() const;

    // Has `bytes` written soon or, when they are empty, the file deleted,
    // replacing any write not yet started. Returns at once.
    void post(std::string bytes);

    // Writes `bytes` (deletes the file, when they are empty) now, after the
    // write under way, and returns once that is on the disk; a write not yet
    // started is dropped. A deleted file gives up its slot.
    Status writeNow(const std::string &bytes);

    // `listener` hears how each write or deletion went, on its thread.
    void setListener(std::function<void(const Status &)> listener);

    // For tests: stops writing, leaving the file and its lock as a kill would.
    void abandon();

private:
    void run();
    // Drops the pending write and waits for the thread; `lock` holds m_mutex.
    void settle(std::unique_lock<std::mutex> &lock);
    // Writes `bytes` (or deletes), taking a slot if need be; the thread idle.
    Status apply(const std::string &bytes);
    // apply() with `lock` released meanwhile, its result told to the listener.
    Status applyUnlocked(std::unique_lock<std::mutex> &lock, const std::string &bytes);

    const QString m_dataPath;
    const std::string m_computer;
    QString m_path;
    std::shared_ptr<QLockFile> m_lock;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_pending;
    bool m_writing = false;
    bool m_stop = false;
    bool m_abandoned = false;
    std::function<void(const Status &)> m_listener;
    std::thread m_thread;
};

} // namespace hostally
