#include "durable_file.h"

#include "data_file.h"
#include "platform_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <mutex>
#include <utility>

namespace hostally {

namespace {

// Sync clients, virus scanners and search indexers hold a file for a moment
// after every write; editors that save by replacing wait them out like this.
constexpr int kHoldWaitMs = 2000;
constexpr int kHoldRetryMs = 100;

// Set by tests only; the recovery file's thread asks it too.
std::mutex hookMutex;
std::function<Injected(FileStep, const QString &)> fileHook;

std::function<void(bool)> waitHandler;

Injected injected(FileStep step, const QString &path)
{
    std::lock_guard<std::mutex> guard(hookMutex);
    return fileHook ? fileHook(step, path) : Injected::Proceed;
}

// What a step a test stopped reports: the program is gone, or the disk
// failed there.
Status stopped(const QString &path, Injected how)
{
    return fileFailure(path,
        how == Injected::Crash ? QStringLiteral("the program was ended here")
                               : QStringLiteral("Input/output error"));
}

// Syncs the folder of `path`, unless a test fails it after `step`.
Status syncFolderOf(const QString &path, FileStep step)
{
    QString reason;
    const Injected how = injected(step, path);
    if (how == Injected::Crash)
        return stopped(path, how);
    if (how == Injected::Fail)
        reason = QStringLiteral("Input/output error");
    else if (syncFolder(QFileInfo(path).absolutePath(), &reason))
        return Status::success();
    return fileFailure(path,
        QStringLiteral("cannot write the folder %1 to the disk: %2")
            .arg(displayPath(QFileInfo(path).absolutePath()), reason));
}

} // namespace

Status fileFailure(const QString &path, const QString &message, Status::Cause cause)
{
    Status s = Status::failure(0, message.toStdString(), cause);
    s.file = displayPath(path).toStdString();
    return s;
}

Status heldByAnotherProgram(const QString &path)
{
    return fileFailure(path,
        QStringLiteral("the file is in use by another program: close that program (a "
                       "spreadsheet or an editor, perhaps)"),
        Status::Cause::InUse);
}

bool retryWhileHeld(const QString &path, const std::function<bool()> &attempt)
{
    QElapsedTimer waited;
    bool held = false;
    while (!attempt()) {
        held = fileHold(path) != FileHold::None;
        if (!held)
            break;
        if (!waited.isValid()) {
            waited.start();
            announceWait(true);
        } else if (waited.hasExpired(kHoldWaitMs)) {
            break;
        }
        QThread::msleep(kHoldRetryMs);
        held = false;
    }
    if (waited.isValid())
        announceWait(false);
    return held;
}

void setWaitHandler(std::function<void(bool waiting)> handler)
{
    waitHandler = std::move(handler);
}

void announceWait(bool waiting)
{
    if (waitHandler)
        waitHandler(waiting);
}

void quietLockFileWarnings()
{
    // Set once; read by whichever thread logs.
    static std::atomic<QtMessageHandler> next {nullptr};
    [[maybe_unused]] static const bool installed = (next
        = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                const QtMessageHandler handler = next;
                if (handler && !message.startsWith(QLatin1String("Could not remove our own lock")))
                    handler(type, context, message);
            }));
}

Status writeDurably(
    const QString &path, const QByteArray &bytes, Replaced &replaced, const SwapChecks &checks)
{
    replaced = Replaced::No;
    if (const Injected how = injected(FileStep::Start, path); how != Injected::Proceed)
        return stopped(path, how);
    // A new file beside `path`, in the same folder, so that renaming it over
    // `path` is one step of the file system. NewOnly never opens a file that
    // is already there; the mode is the system's default for a new file.
    QFile file(path + QStringLiteral(".new-")
        + QString::number(QRandomGenerator::global()->generate(), 36));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fileFailure(path,
            QStringLiteral("the folder %1 cannot be written: %2")
                .arg(displayPath(QFileInfo(path).absolutePath()), file.errorString()));
    keepOwnerAndMode(file, path);
    // QFile::remove() removes nothing when closing fails to flush what is
    // left: closed first, the file goes.
    const auto discard = [&file] {
        file.close();
        file.remove();
    };
    QString reason;
    // Flushed and synced before the swap, each checked: on a full disk or a
    // failing one, a rename would put a cut file in the place of the old.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        reason = file.errorString();
        discard();
        return fileFailure(path, QStringLiteral("cannot write the file: ") + reason);
    }
    if (checks.toDisk && !syncToDisk(file, &reason)) {
        discard();
        return fileFailure(path, QStringLiteral("cannot write the file to the disk: ") + reason);
    }
    // Windows renames no file that is still open.
    file.close();
    const QString newName = QFileInfo(file.fileName()).fileName();
    if (const Injected how = injected(FileStep::Written, path); how != Injected::Proceed) {
        if (how == Injected::Fail)
            file.remove();
        return stopped(path, how);
    }
    if (checks.stillCurrent && !checks.stillCurrent()) {
        file.remove();
        replaced = Replaced::Superseded;
        return fileFailure(path, QStringLiteral("the file changed while it was being saved"));
    }
    const Status ready = checks.beforeSwap ? checks.beforeSwap(newName) : Status::success();
    bool held = false;
    if (!ready.ok || !renameOver(file.fileName(), path, reason, held)) {
        // Whoever was told the new file's name hears of the failure while
        // the file is still there to show that no swap happened.
        if (checks.beforeSwap && checks.swapFailed)
            checks.swapFailed();
        file.remove();
        if (!ready.ok)
            return ready;
        if (held)
            return heldByAnotherProgram(path);
        return fileFailure(path, QStringLiteral("cannot save the file: ") + reason);
    }
    replaced = Replaced::Yes;
    if (!checks.toDisk) {
        const Injected how = injected(FileStep::Swapped, path);
        return how == Injected::Proceed ? Status::success() : stopped(path, how);
    }
    // Until the folder's new entry is on the disk, a power cut can bring the
    // old file back.
    return syncFolderOf(path, FileStep::Swapped);
}

Status removeDurably(const QString &path)
{
    if (const Injected how = injected(FileStep::Start, path); how != Injected::Proceed)
        return stopped(path, how);
    QFile file(path);
    retryWhileHeld(path, [&file, &path] { return file.remove() || !QFileInfo::exists(path); });
    if (QFileInfo::exists(path))
        return fileFailure(path, QStringLiteral("cannot delete the file: ") + file.errorString());
    // A power cut before the folder is on the disk can bring the file back.
    return syncFolderOf(path, FileStep::Removed);
}

void setFileHookForTesting(std::function<Injected(FileStep step, const QString &path)> hook)
{
    std::lock_guard<std::mutex> guard(hookMutex);
    fileHook = std::move(hook);
}

} // namespace hostally
