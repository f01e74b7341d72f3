#include "locks.h"

#include "file_io.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>

#include <atomic>
#include <mutex>
#include <set>

namespace hostally {

namespace {

// The lock files this process holds. Process ids come round again: after a
// restart (Windows Update's, say, and every time under Wine) a new Hostally
// may have the id of the one that left a lock, which then looks held by a
// running Hostally for ever. A lock naming this process that it does not hold
// was left by another.
std::mutex heldMutex;
std::set<QString> heldLocks;
// Windows keeps a held lock file open and undeletable, so one that can be
// deleted is held by nobody, whatever process its id now names.
#ifdef Q_OS_WIN
constexpr bool kHeldLocksStayOpen = true;
#else
constexpr bool kHeldLocksStayOpen = false;
#endif

// Keeps QLockFile's warning that it cannot delete its lock file (its folder
// gone or read-only) off stderr.
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

// The computer's name as QLockFile writes it into its locks.
QString lockHostName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("COMPUTERNAME");
#else
    return QSysInfo::machineHostName();
#endif
}

bool leftByAnEarlierProcess(const QLockFile &lock, const QString &lockPath)
{
    qint64 pid = 0;
    QString hostName, appName;
    if (!lock.getLockInfo(&pid, &hostName, &appName))
        return false;
    std::lock_guard<std::mutex> guard(heldMutex);
    return pid == QCoreApplication::applicationPid() && hostName == lockHostName()
        && heldLocks.count(lockPath) == 0;
}

} // namespace

std::unique_ptr<QLockFile> lockForSaving(const QString &target, const SaveWaits &waits,
    const std::function<void()> &beforeWaiting, Status &failure)
{
    quietLockFileWarnings();
    auto lock = std::make_unique<QLockFile>(target + QStringLiteral(".lock"));
    lock->setStaleLockTime(waits.staleLockMs);
    if (lock->tryLock(0) || lock->error() != QLockFile::LockFailedError)
        return lock;
    // A save may wait for seconds: what the window holds goes to the disk
    // first, in case the program is ended meanwhile.
    if (beforeWaiting)
        beforeWaiting();
    announceWait(true);
    const bool locked = lock->tryLock(waits.lockWaitMs);
    announceWait(false);
    if (!locked && lock->error() == QLockFile::LockFailedError)
        failure = fileFailure(target,
            QStringLiteral("another Hostally has been saving it for over %1 seconds: try again "
                           "once it is done")
                .arg(waits.lockWaitMs / 1000));
    return lock;
}

std::shared_ptr<QLockFile> lockRecoveryFile(const QString &path, bool *folderFails)
{
    quietLockFileWarnings();
    const QString lockPath = path + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(lockPath);
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
    if (!locked && lock->error() == QLockFile::LockFailedError
        && (kHeldLocksStayOpen || leftByAnEarlierProcess(*lock, lockPath))
        && lock->removeStaleLockFile())
        locked = lock->tryLock(0);
    if (folderFails)
        *folderFails = !locked && lock->error() != QLockFile::LockFailedError;
    if (!locked)
        return nullptr;
    std::lock_guard<std::mutex> guard(heldMutex);
    heldLocks.insert(lockPath);
    return std::shared_ptr<QLockFile>(lock.release(), [lockPath](QLockFile *held) {
        delete held;
        std::lock_guard<std::mutex> guard(heldMutex);
        heldLocks.erase(lockPath);
    });
}

void leaveLockAsKilled(std::shared_ptr<QLockFile> &lock)
{
    if (!lock)
        return;
    // A killed program's lock file stays, naming it, though the system lets
    // go of its lock on the file.
    QFile lockFile(lock->fileName());
    const QByteArray info = lockFile.open(QIODevice::ReadOnly) ? lockFile.readAll() : QByteArray();
    lockFile.close();
    lock.reset();
    if (lockFile.open(QIODevice::WriteOnly))
        lockFile.write(info);
}

} // namespace hostally
