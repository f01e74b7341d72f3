#include "save.h"

#include "data_file.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QThread>

#include <string_view>

namespace hostally {

namespace {

// A save holds the lock for a moment, which a slow disk (a USB stick, a
// network share) stretches to seconds. A lock older than this whose holder is
// not running on this computer was left by a crash, here or elsewhere.
constexpr int kStaleLockMs = 15000;
// Long enough for a slow save to end, and for a lock left by a crash on
// another computer sharing the folder to go stale.
constexpr int kLockWaitMs = kStaleLockMs + 5000;
// How long a save waits for a file another program holds, as reading does.
constexpr int kHoldWaitMs = 2000;
constexpr int kHoldRetryMs = 100;
// A file rewritten over and over by a program that ignores the lock; only an
// unlikely race ever needs a second merge.
constexpr int kMaxMerges = 10;

std::string_view text(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

Status fileFailure(const QString &path, const QString &message)
{
    Status s = Status::failure(0, message.toStdString());
    s.file = displayPath(path).toStdString();
    return s;
}

// The data file as one read found it: its bytes, or why it could not be read.
struct FileState {
    Status read;
    QByteArray bytes;

    bool operator==(const FileState &other) const
    {
        return read.ok == other.read.ok && read.message == other.read.message
            && bytes == other.bytes;
    }
};

FileState readState(const QString &path)
{
    FileState state;
    state.read = readDataFileBytes(path, state.bytes);
    return state;
}

// The one place a save's counts meet the merge rules.
MergeResult addChanges(const SaveRequest &request, const Tallies &base, const Tallies &file)
{
    return mergeTallies(base, request.window, file, request.resets);
}

// Decides what a save writes over the file as `now` found it: fills in
// `result`'s tables and returns true, or fills in a question or a failure and
// returns false.
bool compose(const SaveRequest &request, const FileState &now, SaveResult &result)
{
    if (now.read.ok && now.bytes == request.base) {
        result.tallies = request.window;
        return true;
    }
    // Nobody changed a file that another program holds, or a path that is no
    // plain file: say what is wrong rather than ask. Nor is a file that is
    // gone written anew: counts saved where the user no longer looks are lost
    // from sight, so the window asks for the file back instead.
    if (now.read.cause == Status::Cause::InUse || now.read.cause == Status::Cause::NotPlainFile
        || now.read.cause == Status::Cause::Missing) {
        result.status = now.read;
        return false;
    }
    Tallies file;
    Tallies base;
    if (!now.read.ok) {
        result.question = SaveQuestion::Unreadable;
        result.problem = now.read;
    } else if (Status parsed = parseDataFile(text(now.bytes), file.leagues, file.events);
               !parsed.ok) {
        result.question = SaveQuestion::Unparsable;
        result.problem = parsed;
    } else if (Status parsedBase = parseDataFile(text(request.base), base.leagues, base.events);
               !parsedBase.ok) {
        // A window always holds what it read or wrote; should that not read,
        // there are no changes to add, only tables to write or not.
        result.question = SaveQuestion::Unparsable;
        result.problem = parsedBase;
    } else {
        MergeResult merged = addChanges(request, base, file);
        // Yes keeps every change that can be placed; the lines refused stay as
        // the file has them.
        if (merged.ok() || request.answeredYes) {
            result.tallies = std::move(merged.merged);
            result.merged = true;
            return true;
        }
        result.question = SaveQuestion::Refused;
        result.refusal = std::move(merged);
    }
    // Only a file that no longer reads is replaced with the window's tables.
    if (request.answeredYes) {
        result.question = SaveQuestion::None;
        result.tallies = request.window;
        return true;
    }
    result.kind = SaveResult::Kind::NeedsAnswer;
    return false;
}

// Ends a wait announced with announceWait(true) when it goes out of scope.
class WaitAnnouncement {
public:
    void start()
    {
        if (!m_waiting)
            announceWait(true);
        m_waiting = true;
    }
    ~WaitAnnouncement()
    {
        if (m_waiting)
            announceWait(false);
    }

private:
    bool m_waiting = false;
};

} // namespace

SaveResult saveTallies(const QString &path, const SaveRequest &request)
{
    WaitAnnouncement waiting;
    // Beside the file a link names, where every save of that file looks.
    QLockFile lock(dataFileTarget(path) + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        waiting.start();
        if (!lock.tryLock(kLockWaitMs) && lock.error() == QLockFile::LockFailedError) {
            SaveResult result;
            result.status = fileFailure(path,
                QStringLiteral("another Hostally has been saving it for over %1 seconds: "
                               "try again once it is done")
                    .arg(kLockWaitMs / 1000));
            return result;
        }
    }
    // Any other error means no lock can be made here (a read-only folder, a
    // full disk): the save goes on without one, and succeeds or says why not.

    QElapsedTimer held;
    for (int merges = 1;; ++merges) {
        const FileState now = readState(path);
        SaveResult result;
        if (!compose(request, now, result))
            return result;
        result.base = QByteArray::fromStdString(
            formatDataFile(result.tallies.leagues, result.tallies.events));
        // An editor, or a program that ignores the lock, may have written the
        // file since it was read: then what was merged is not what is there.
        const auto stillCurrent = [&path, &now] { return readState(path) == now; };
        Replaced replaced = Replaced::No;
        const Status status = replaceDataFile(path, result.base, stillCurrent, replaced);
        if (status.ok) {
            result.kind = SaveResult::Kind::Saved;
            result.replaced = true;
            return result;
        }
        if (replaced == Replaced::Superseded && merges < kMaxMerges)
            continue;
        // Windows refuses to replace a file another program holds: wait for it
        // to let go, then merge again from the file as it is then.
        if (status.cause == Status::Cause::InUse && replaced == Replaced::No) {
            if (!held.isValid()) {
                held.start();
                waiting.start();
            }
            if (!held.hasExpired(kHoldWaitMs)) {
                QThread::msleep(kHoldRetryMs);
                --merges;
                continue;
            }
        }
        result.kind = SaveResult::Kind::Failed;
        result.status = status;
        result.replaced = replaced == Replaced::Yes;
        return result;
    }
}

} // namespace hostally
