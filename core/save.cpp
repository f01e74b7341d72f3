#include "save.h"

#include "data_file.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLockFile>

namespace hostally {

namespace {

// A file rewritten over and over by a program that ignores the lock; only an
// unlikely race ever needs a second merge.
constexpr int kMaxMerges = 10;

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

// Decides what a save writes over the file as `now` found it: the tables,
// or nothing, with a question or a failure in `result`.
std::optional<Saved> compose(
    const QString &path, const SaveRequest &request, const FileState &now, SaveResult &result)
{
    if (now.read.ok && now.bytes == request.base)
        return Saved {{}, request.window};
    // Nobody changed a file that another program holds, or a path that is no
    // plain file: say what is wrong rather than ask. A folder that is gone
    // has been moved or deleted: counts saved in a new one would be lost from
    // sight, so the window asks for it back instead.
    const bool folderGone = now.read.cause == Status::Cause::Missing
        && !QFileInfo(QFileInfo(dataFileTarget(path)).absolutePath()).isDir();
    result.status = now.read;
    if (now.read.cause == Status::Cause::InUse || now.read.cause == Status::Cause::NotPlainFile
        || folderGone)
        return {};
    Tallies file, base;
    const auto reads = [&result](const QByteArray &bytes, Tallies &into) {
        return (result.status = parseDataFile(bytes.toStdString(), into.leagues, into.events)).ok;
    };
    if (now.read.cause == Status::Cause::Missing) {
        // A data.txt deleted by mistake: its names are only in the window now.
        result.question = SaveQuestion::Missing;
    } else if (!now.read.ok) {
        result.question = SaveQuestion::Unreadable;
    } else if (!reads(now.bytes, file)
        // A window always holds what it read or wrote; should that not read,
        // there are no changes to add, only tables to write or not.
        || !reads(request.base, base)) {
        result.question = SaveQuestion::Unparsable;
    } else {
        MergeResult merged = mergeTallies(base, request.window, file, request.resets);
        // Yes keeps every change that can be placed; the lines refused stay as
        // the file has them.
        if (merged.ok() || request.answeredYes)
            return Saved {{}, std::move(merged.merged), true};
        result.question = SaveQuestion::Refused;
        result.status = fileFailure(path, QStringLiteral("some changes cannot be added to it"));
        result.refusals = std::move(merged.refusals);
    }
    // Only a file that no longer reads, or is gone, is replaced with the
    // window's tables.
    if (!request.answeredYes)
        return {};
    result = SaveResult();
    return Saved {{}, request.window};
}

} // namespace

SaveResult saveTallies(const QString &path, const SaveRequest &request, const SaveHooks &hooks)
{
    quietLockFileWarnings();
    // Beside the file a link names, where every save of that file looks.
    QLockFile lock(dataFileTarget(path) + QStringLiteral(".lock"));
    SaveResult result;
    lock.setStaleLockTime(hooks.staleLockMs);
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        // A save may wait for seconds: what the window holds goes to the disk
        // first, in case the program is ended meanwhile.
        if (hooks.beforeWaiting)
            hooks.beforeWaiting();
        announceWait(true);
        const bool locked = lock.tryLock(hooks.lockWaitMs);
        announceWait(false);
        if (!locked && lock.error() == QLockFile::LockFailedError) {
            result.status = fileFailure(path,
                QStringLiteral("another Hostally has been saving it for over %1 seconds: "
                               "try again once it is done")
                    .arg(hooks.lockWaitMs / 1000));
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
            // The copies' counts join the file's before the window's are added.
            FileState merged = now;
            // A save of this computer's that a crash ended is told to the
            // others before anything else is recorded.
            settleRecord(path, hooks.computer);
            const std::vector<ComputerSaves> history = readSaveHistory(path, hooks.computer);
            SaveRecord record {QDateTime::currentMSecsSinceEpoch(), {now.bytes.toStdString()}, {},
                {writersOf(history, now.bytes.toStdString())}};
            // Its time names it: later than any save of this computer before it.
            for (const ComputerSaves &computer : history) {
                if (computer.computer == hooks.computer.toStdString() && !computer.saves.empty())
                    record.ms = std::max(record.ms, computer.saves.back().ms + 2);
            }
            if (now.read.ok)
                result.copies = mergeConflictCopies(
                    path, history, merged.bytes, request.takeRefusedCopies, record);
            if (request.onlyCopies && record.replaced.size() == 1)
                return true;
            std::vector<CopyReport> copies = std::move(result.copies);
            std::optional<Saved> saving = compose(path, request, merged, result);
            result.copies = std::move(copies);
            if (!saving)
                return true;
            // A file with a byte-order mark keeps it, as Notepad wrote it.
            const QByteArray &form = now.read.ok ? now.bytes : request.base;
            saving->bytes = QByteArray::fromStdString(formatDataFile(saving->tallies.leagues,
                saving->tallies.events, form.startsWith(kByteOrderMark.data())));
            record.written = saving->bytes.toStdString();
            SwapChecks checks = hooks;
            // An editor, or a program that ignores the lock, may have written
            // the file since it was read: then what was merged is not what is
            // there.
            checks.stillCurrent = [&path, &now] { return FileState(path) == now; };
            // Every data.txt a save writes is in the record first, so that a
            // conflict copy of it finds the version it came from, and a copy
            // merged into it is known merged. A crash leaves data.txt either
            // the file the record says it replaced or the one it wrote.
            // The copies' merge is a version of its own: another computer
            // that merges the same copies into the same file makes the same
            // one, and the next merge of the two computers' files starts there.
            std::vector<SaveRecord> records {record};
            if (record.replaced.size() > 1)
                records = {{record.ms, record.replaced, merged.bytes.toStdString(), record.from},
                    {record.ms + 1, {merged.bytes.toStdString()}, record.written,
                        {{SaveId {hooks.computer.toStdString(), record.ms}}}}};
            checks.beforeSwap = [&](const QString &newName) {
                for (SaveRecord &save : records)
                    save.swapping = newName.toStdString();
                const Status recorded = recordSaves(path, hooks.computer, records);
                if (!recorded.ok)
                    return recorded;
                return hooks.beforeSwap ? hooks.beforeSwap(newName) : Status::success();
            };
            // Its new file still there, the record forgets this save.
            checks.swapFailed = [&] {
                settleRecord(path, hooks.computer);
                if (hooks.swapFailed)
                    hooks.swapFailed();
            };
            Replaced replaced = Replaced::No;
            result.status = writeDataFile(path, saving->bytes, replaced, checks);
            if (replaced == Replaced::Superseded && ++merges < kMaxMerges)
                continue;
            if (replaced == Replaced::Yes) {
                result.saved = std::move(saving);
                // The record says data.txt holds them: a copy that outlives
                // this adds nothing at the next start.
                for (const CopyReport &copy : result.copies) {
                    if (copy.outcome.kind == CopyOutcome::Kind::Merged && !copy.dropped)
                        removeDurably(copy.path);
                }
                // Until then, another computer cannot tell this save from one
                // a crash ended before its swap. Not synced: on a slow disk,
                // the lock is held no longer than it must be.
                settleRecord(path, hooks.computer, false);
            }
            return result.status.cause != Status::Cause::InUse;
        }
    };
    retryWhileHeld(dataFileTarget(path), once);
    return result;
}

} // namespace hostally
