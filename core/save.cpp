#include "save.h"

#include "file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>

namespace hostally {

namespace {

// A file rewritten over and over by a program that ignores the lock; only an
// unlikely race ever needs a second merge.
constexpr int kMaxMerges = 10;

// The data file as one read found it: its bytes, or why it could not be read.
struct FileState {
    explicit FileState(const QString &path) : read(readFile(path, bytes)) { }

    QByteArray bytes; // before `read`, which fills it in
    Status read;

    bool operator==(const FileState &other) const
    {
        return read.ok == other.read.ok && read.message == other.read.message
            && bytes == other.bytes;
    }
};

QString folderOf(const QString &target)
{
    return QFileInfo(target).absolutePath() + QLatin1Char('/');
}

// This computer's log among `logs`, added when it has none, its next number
// past any of its batches another log holds: numbers are never used twice.
Log &ownLog(std::vector<Log> &logs, const Computer &computer)
{
    auto own = std::find_if(
        logs.begin(), logs.end(), [&](const Log &log) { return log.computer == computer.id; });
    if (own == logs.end()) {
        Log fresh;
        fresh.computer = computer.id;
        own = logs.insert(logs.end(), fresh);
    }
    own->name = computer.name;
    for (const Log &log : logs) {
        for (const Entry &entry : log.entries)
            own->next = std::max(own->next, entry.held.ids.last(computer.id) + 1);
    }
    return *own;
}

Status writeLog(const QString &target, const Log &log)
{
    return writeDurably(logPath(target, log.computer), QByteArray::fromStdString(formatLog(log)));
}

// data.txt's version, when it reads as a data file.
std::optional<std::uint64_t> viewOf(const FileState &now)
{
    Tallies tallies;
    if (!now.read.ok || !parseDataFile(now.bytes.toStdString(), tallies.leagues, tallies.events).ok)
        return std::nullopt;
    return versionHash(now.bytes.toStdString());
}

// What became of this computer's last save while it names its new file,
// which `path` gives: not done while that file is still there.
std::optional<Fate> lastFate(const QString &target, const std::vector<Log> &logs, const Log &own,
    const std::optional<std::uint64_t> &view, QString &path)
{
    if (own.entries.empty() || own.entries.back().newFile.empty())
        return std::nullopt;
    const Entry &last = own.entries.back();
    const QString name = QString::fromStdString(last.newFile);
    // Only a name a save gives: never a path that reaches another file.
    if (!name.startsWith(QFileInfo(target).fileName() + QStringLiteral(".new-"))
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return std::nullopt;
    path = folderOf(target) + name;
    if (QFileInfo::exists(path))
        return Fate::NotDone;
    return view ? fateOf(logs, own.computer, last, *view) : Fate::Undecided;
}

// Decides this computer's last save, as its next save or start does: one
// never renamed leaves the log before its new file goes; one done names no
// new file from then on, so that a hand edit back to the bytes it read
// cannot undo it. `write` writes the log for the latter too. Needs the lock.
Status settle(const QString &target, std::vector<Log> &logs, Log &own,
    const std::optional<std::uint64_t> &view, bool write)
{
    QString path;
    const std::optional<Fate> fate = lastFate(target, logs, own, view, path);
    if (fate == Fate::Done)
        own.entries.back().newFile.clear();
    if (fate != Fate::NotDone)
        return write && fate == Fate::Done ? writeLog(target, own) : Status::success();
    own.entries.pop_back();
    const Status written = writeLog(target, own);
    if (written.ok)
        QFile::remove(path);
    return written;
}

// Deletes what saves a crash ended left beside `target`: new data files no
// log's last entry names, this computer's log being written, and, once its
// log exists, its record of saves of the older form. Needs the saves' lock.
void tidy(const QString &target, const std::vector<Log> &logs, const Computer &computer)
{
    const bool logged = QFileInfo::exists(logPath(target, computer.id));
    QStringList needed;
    for (const Log &log : logs) {
        if (!log.entries.empty())
            needed.append(QString::fromStdString(log.entries.back().newFile));
    }
    const QString name = QFileInfo(target).fileName();
    const QString oldRecord
        = name + QStringLiteral(".saved-") + QString::fromStdString(computer.name);
    const QString logName = QFileInfo(logPath(target, computer.id)).fileName();
    for (const QString &leftover :
        QDir(folderOf(target))
            .entryList({name + QStringLiteral(".new-*"), logName + QStringLiteral(".new-*"),
                           oldRecord, oldRecord + QStringLiteral(".new-*")},
                QDir::Files | QDir::Hidden)) {
        if (!needed.contains(leftover) && (logged || !leftover.startsWith(oldRecord)))
            QFile::remove(folderOf(target) + leftover);
    }
}

SaveResult failed(const Status &status)
{
    SaveResult result;
    result.status = status;
    return result;
}

// The counts of other histories that wrote data.txt's bytes may be missing
// from it: a sync program takes two computers' equal files for one. Only the
// user can tell a hand correction from that. Returns whether it is asked.
bool addMissing(const std::vector<Log> &logs, std::uint64_t view, const Answers &answers,
    Tallies &tallies, Held &held, SaveResult &result)
{
    const std::vector<BatchId> missing = mayBeDropped(logs, view, held);
    Tallies added = tallies;
    std::vector<Refusal> refused;
    if (!replay(logs, missing, added, refused) || (answers.addMissing && !*answers.addMissing))
        added = tallies;
    else if (!answers.addMissing && !(added == tallies)) {
        result.question = SaveQuestion::SameBytes;
        result.missing = differingLines(tallies, added);
        result.missingIds = missing;
        result.missingFrom = hostsOf(logs, missing);
        return true;
    }
    tallies = std::move(added);
    held.ids.insert(missing.begin(), missing.end());
    return false;
}

// Whether the log of `computer` on the disk names `newFile` in its last entry.
bool lastNames(const QString &target, const Computer &computer, const std::string &newFile)
{
    const std::vector<Log> logs = readLogs(target);
    return std::any_of(logs.begin(), logs.end(), [&](const Log &log) {
        return log.computer == computer.id && !log.entries.empty()
            && log.entries.back().newFile == newFile;
    });
}

// One save as the files are now; `again` says data.txt changed under it, to
// be merged anew.
SaveResult attempt(
    const QString &path, const Computer &computer, const SaveRequest &request, bool &again)
{
    const QString target = dataFileTarget(path);
    const Answers &answers = request.answers;
    SaveResult result;
    const FileState now(target);
    std::vector<Log> logs = readLogs(target);
    Log &own = ownLog(logs, computer);
    const std::optional<std::uint64_t> view = viewOf(now);
    if (const Status forgot = settle(target, logs, own, view, false); !forgot.ok)
        return failed(forgot);
    Tallies tallies;
    result.status = now.read.ok
        ? parseDataFile(now.bytes.toStdString(), tallies.leagues, tallies.events)
        : now.read;

    // What the view holds, with the copies' batches it lacks.
    const Tallies read = tallies;
    Held known, held;
    bool copiesMerged = false;
    if (view) {
        held = known = readVersion(logs, *view, computer.id).held;
        if (addMissing(logs, *view, answers, tallies, held, result))
            return result;
        Reconciled reconciled = mergeCopies(logs, computer.id, tallies, held,
            findConflictCopies(target, logs), answers.takeRefusedCopies.value_or(false));
        result.copies = std::move(reconciled.copies);
        for (const CopyReport &copy : result.copies) {
            copiesMerged = copiesMerged || copy.kind == CopyReport::Kind::Merged;
            if (copy.kind == CopyReport::Kind::Refused && request.onlyCopies
                && !answers.takeRefusedCopies) {
                result.question = SaveQuestion::CopiesRefused;
                return result;
            }
        }
        tallies = std::move(reconciled.tallies);
        held = std::move(reconciled.held);
    }

    // The window's counts on top.
    const bool folderGone = now.read.cause == Status::Cause::Missing
        && !QFileInfo(QFileInfo(target).absolutePath()).isDir();
    if (!view) {
        // A file another program holds, or a path that is no plain file, is
        // nobody's change: say what is wrong rather than ask. Counts saved
        // in a new folder would be lost from sight: the window asks for it back.
        if (request.onlyCopies || now.read.cause == Status::Cause::InUse
            || now.read.cause == Status::Cause::NotPlainFile || folderGone)
            return result;
        if (!answers.replace) {
            result.question = now.read.cause == Status::Cause::Missing ? SaveQuestion::Missing
                : !now.read.ok                                         ? SaveQuestion::Unreadable
                                                                       : SaveQuestion::Unparsable;
            return result;
        }
        tallies = request.window;
    } else if (now.bytes == request.base && tallies == read) {
        tallies = request.window; // data.txt as the window read it
    } else {
        Applied applied = apply(request.batch, tallies, RefusedReset::Zeros);
        // Yes keeps every change that can be placed; those refused stay as the file has them.
        if (!applied.ok() && !answers.replace) {
            result.question = SaveQuestion::Refused;
            result.status = fileFailure(path, QStringLiteral("some changes cannot be added to it"));
            result.refusals = std::move(applied.refused);
            return result;
        }
        tallies = std::move(applied.tallies);
    }
    result.status = Status::success();
    // A file with a byte-order mark keeps it, as Notepad wrote it.
    const QByteArray bytes = QByteArray::fromStdString(formatDataFile(tallies.leagues,
        tallies.events, (view ? now.bytes : request.base).startsWith(kByteOrderMark.data())));
    const bool changed = !view || bytes != now.bytes;
    // Batches the logs did not know these bytes hold: answers, or copies.
    const bool noted = view && !(held == known);
    if (request.onlyCopies && !changed && !copiesMerged && !noted)
        return result; // a start that found nothing to merge
    Entry entry {own.next++, view.value_or(0), versionHash(bytes.toStdString()), held,
        request.batch, request.consumed, {}};
    if (entry.held.root.computer.empty())
        entry.held.root = entry.id(computer.id);
    entry.held.ids.insert(entry.id(computer.id));
    QString newPath;
    if (changed) {
        if (const Status replaceable = checkReplaceable(target); !replaceable.ok)
            return failed(replaceable);
        if (const Status written = writeNewFile(target, bytes, newPath); !written.ok)
            return failed(written);
        entry.newFile = QFileInfo(newPath).fileName().toStdString();
    }
    // A save that writes nothing needs no entry, but for batches noted.
    if (changed || noted) {
        own.entries.push_back(std::move(entry));
        if (own.entries.size() > kEntriesKept)
            own.entries.erase(own.entries.begin());
        Status committed = writeLog(target, own);
        const bool logged = committed.ok;
        bool renamed = !changed;
        // Nothing is written between the last look at data.txt and the
        // rename: an editor's save a moment before is merged again.
        if (committed.ok && changed && !(FileState(target) == now)) {
            again = true;
            committed
                = fileFailure(target, QStringLiteral("the file changed while it was being saved"));
        } else if (committed.ok && changed) {
            committed = renameDurably(newPath, target, renamed);
        }
        if (!renamed) {
            // The log forgets it before its new file goes, the file that
            // shows the rename never happened. A log whose write failed
            // may be on the disk all the same: what is there decides.
            const std::string name = own.entries.back().newFile;
            own.entries.pop_back();
            if (writeLog(target, own).ok || (!logged && !lastNames(target, computer, name)))
                QFile::remove(newPath);
            return failed(committed);
        }
        result.status = committed;
    }
    for (const CopyReport &copy : result.copies) {
        if (copy.kind == CopyReport::Kind::Merged)
            removeDurably(copy.path);
    }
    tidy(target, logs, computer);
    result.saved = Saved {bytes, tallies, !(tallies == request.window)};
    return result;
}

} // namespace

Fate fateOf(
    const std::vector<Log> &logs, const std::string &me, const Entry &entry, std::uint64_t view)
{
    const BatchId id = entry.id(me);
    for (const Log &log : logs) {
        for (const Entry &other : log.entries) {
            if (other.id(log.computer) != id && other.held.ids.contains(id))
                return Fate::Done;
        }
    }
    if (view == entry.after && readVersion(logs, view, me).known)
        return Fate::Done;
    return view == entry.before ? Fate::NotDone : Fate::Undecided;
}

bool Answers::take(SaveQuestion question, bool yes)
{
    if (question == SaveQuestion::SameBytes)
        addMissing = yes;
    else if (question == SaveQuestion::CopiesRefused)
        takeRefusedCopies = yes;
    else
        replace = yes;
    return yes || question == SaveQuestion::SameBytes || question == SaveQuestion::CopiesRefused;
}

SaveResult saveTallies(const QString &path, const Computer &computer, const SaveRequest &request,
    const SaveHooks &hooks)
{
    Status failure;
    const std::unique_ptr<QLockFile> lock
        = lockForSaving(dataFileTarget(path), hooks.waits, hooks.beforeWaiting, failure);
    if (!failure.ok)
        return failed(failure);
    SaveResult result;
    // Windows refuses to replace a file another program holds: wait for it
    // to let go, then merge again from the file as it is then.
    retryWhileHeld(dataFileTarget(path), [&] {
        bool again = true;
        for (int merges = 0; again && merges < kMaxMerges; ++merges) {
            again = false;
            result = attempt(path, computer, request, again);
        }
        return result.status.cause != Status::Cause::InUse;
    });
    return result;
}

Log settleLastSave(const QString &path, const Computer &computer, std::vector<Log> &logs)
{
    const QString target = dataFileTarget(path);
    logs = readLogs(target);
    QString newFile;
    const auto fate
        = lastFate(target, logs, ownLog(logs, computer), viewOf(FileState(target)), newFile);
    if (fate && fate != Fate::Undecided) {
        Status failure;
        const std::unique_ptr<QLockFile> lock
            = lockForSaving(target, SaveWaits(), nullptr, failure);
        logs = readLogs(target);
        if (failure.ok)
            settle(target, logs, ownLog(logs, computer), viewOf(FileState(target)), true);
    }
    return ownLog(logs, computer);
}

Status noteDeclined(
    const QString &path, const Computer &computer, const std::vector<std::string> &ids)
{
    const QString target = dataFileTarget(path);
    Status failure;
    const std::unique_ptr<QLockFile> lock = lockForSaving(target, SaveWaits(), nullptr, failure);
    if (!failure.ok)
        return failure;
    std::vector<Log> logs = readLogs(target);
    Log &own = ownLog(logs, computer);
    own.declined.insert(own.declined.end(), ids.begin(), ids.end());
    if (own.declined.size() > kEntriesKept)
        own.declined.erase(own.declined.begin(), own.declined.end() - kEntriesKept);
    return writeLog(target, own);
}

} // namespace hostally
