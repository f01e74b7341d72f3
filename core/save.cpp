#include "save.h"

#include "data_file.h"

#include <QFileInfo>
#include <QLockFile>

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
// A file rewritten over and over by a program that ignores the lock; only an
// unlikely race ever needs a second merge.
constexpr int kMaxMerges = 10;

std::string_view text(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// The data file as one read found it: its bytes, or why it could not be read.
struct FileState {
    explicit FileState(const QString &path) : read(readDataFileBytes(path, bytes)) { }

    QByteArray bytes; // before `read`, which fills it in
    Status read;

    bool operator==(const FileState &other) const
    {
        return read.ok == other.read.ok && read.message == other.read.message
            && bytes == other.bytes;
    }
};

// Decides what a save writes over the file as `now` found it: fills in
// `result`'s tables and returns true, or fills in a question or a failure and
// returns false.
bool compose(
    const QString &path, const SaveRequest &request, const FileState &now, SaveResult &result)
{
    if (now.read.ok && now.bytes == request.base) {
        result.tallies = request.window;
        return true;
    }
    // Nobody changed a file that another program holds, or a path that is no
    // plain file: say what is wrong rather than ask. A folder that is gone
    // has been moved or deleted: counts saved in a new one would be lost from
    // sight, so the window asks for it back instead.
    const bool folderGone = now.read.cause == Status::Cause::Missing
        && !QFileInfo(QFileInfo(dataFileTarget(path)).absolutePath()).isDir();
    if (now.read.cause == Status::Cause::InUse || now.read.cause == Status::Cause::NotPlainFile
        || folderGone) {
        result.status = now.read;
        return false;
    }
    Tallies file;
    Tallies base;
    Status parsed;
    if (now.read.cause == Status::Cause::Missing) {
        // A data.txt deleted by mistake: its names are only in the window now.
        result.question = SaveQuestion::Missing;
    } else if (!now.read.ok) {
        result.question = SaveQuestion::Unreadable;
        result.problem = now.read;
    } else if (!(parsed = parseDataFile(text(now.bytes), file.leagues, file.events)).ok
        // A window always holds what it read or wrote; should that not read,
        // there are no changes to add, only tables to write or not.
        || !(parsed = parseDataFile(text(request.base), base.leagues, base.events)).ok) {
        result.question = SaveQuestion::Unparsable;
        result.problem = parsed;
    } else {
        MergeResult merged = mergeTallies(base, request.window, file, request.resets);
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
    // Only a file that no longer reads, or is gone, is replaced with the
    // window's tables.
    if (request.answeredYes) {
        result.question = SaveQuestion::None;
        result.tallies = request.window;
        return true;
    }
    result.kind = SaveResult::Kind::NeedsAnswer;
    return false;
}

} // namespace

SaveResult saveTallies(const QString &path, const SaveRequest &request, const SaveHooks &hooks)
{
    // Beside the file a link names, where every save of that file looks.
    QLockFile lock(dataFileTarget(path) + QStringLiteral(".lock"));
    SaveResult result;
    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        // A save may wait for seconds: what the window holds goes to the disk
        // first, in case the program is ended meanwhile.
        if (hooks.beforeWaiting)
            hooks.beforeWaiting();
        announceWait(true);
        const bool locked = lock.tryLock(kLockWaitMs);
        announceWait(false);
        if (!locked && lock.error() == QLockFile::LockFailedError) {
            result.status = fileFailure(path,
                QStringLiteral("another Hostally has been saving it for over %1 seconds: "
                               "try again once it is done")
                    .arg(kLockWaitMs / 1000));
            return result;
        }
    }
    // Any other error means no lock can be made here (a read-only folder, a
    // full disk): the save goes on without one, and succeeds or says why not.

    int merges = 0;
    // Windows refuses to replace a file another program holds: wait for it
    // to let go, then merge again from the file as it is then.
    const auto once = [&] {
        for (;;) {
            const FileState now(path);
            result = SaveResult();
            if (!compose(path, request, now, result))
                return true;
            result.base = QByteArray::fromStdString(
                formatDataFile(result.tallies.leagues, result.tallies.events));
            SwapChecks checks = hooks;
            // An editor, or a program that ignores the lock, may have written
            // the file since it was read: then what was merged is not what is
            // there.
            checks.stillCurrent = [&path, &now] { return FileState(path) == now; };
            Replaced replaced = Replaced::No;
            result.status = writeDataFile(path, result.base, replaced, checks);
            if (replaced == Replaced::Superseded && ++merges < kMaxMerges)
                continue;
            result.kind
                = replaced == Replaced::Yes ? SaveResult::Kind::Saved : SaveResult::Kind::Failed;
            return result.status.cause != Status::Cause::InUse;
        }
    };
    retryWhileHeld(dataFileTarget(path), once);
    return result;
}

} // namespace hostally
