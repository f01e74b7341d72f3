#include "recovery_file.h"

#include "data_file.h"
#include "durable_file.h"
#include "platform_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <set>
#include <utility>

namespace hostally {

namespace {

// More windows on one data file than anyone keeps open; the bound keeps a
// folder full of locks from being searched for ever.
constexpr int kSlots = 99;

// The lock files this process holds. Process ids come round again: after a
// restart (Windows Update's, say, and every time under Wine) a new Hostally
// may have the id of the one that left a lock, which then looks held by a
// running Hostally for ever. A lock naming this process that it does not hold
// was left by another.
std::mutex heldMutex;
// Windows keeps a held lock file open and undeletable, so one that can be
// deleted is held by nobody, whatever process its id now names.
#ifdef Q_OS_WIN
constexpr bool kHeldLocksStayOpen = true;
#else
constexpr bool kHeldLocksStayOpen = false;
#endif
std::set<QString> heldLocks;

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
    QString hostName;
    QString appName;
    if (!lock.getLockInfo(&pid, &hostName, &appName))
        return false;
    std::lock_guard<std::mutex> guard(heldMutex);
    return pid == QCoreApplication::applicationPid() && hostName == lockHostName()
        && heldLocks.count(lockPath) == 0;
}

// Locks `path`'s lock file without waiting. A lock is stale only when the
// process that took it runs no more on this computer: however long a window
// stays open, its lock stays good.
std::shared_ptr<QLockFile> lockFor(const QString &path, QLockFile::LockError *error = nullptr)
{
    quietLockFileWarnings();
    const QString lockPath = path + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(lockPath);
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
    // A lock that a sync program brought from another computer is that
    // computer's to release, however freely it can be deleted here.
    qint64 pid = 0;
    QString hostName;
    QString appName;
    const bool fromHere
        = !lock->getLockInfo(&pid, &hostName, &appName) || hostName == lockHostName();
    const bool mayBeLeft
        = (kHeldLocksStayOpen && fromHere) || leftByAnEarlierProcess(*lock, lockPath);
    if (!locked && lock->error() == QLockFile::LockFailedError && mayBeLeft
        && lock->removeStaleLockFile())
        locked = lock->tryLock(0);
    if (error)
        *error = lock->error();
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

} // namespace

QString recoveryFilePath(const QString &dataPath, int slot)
{
    const QString first = dataPath + QStringLiteral(".unsaved");
    return slot <= 1 ? first : first + QLatin1Char('-') + QString::number(slot);
}

Status readRecoveryFile(const QString &path, Recovery &recovery)
{
    // Read as the data file is: a recovery file is two of them and a few lines.
    QByteArray bytes;
    Status status = readDataFileBytes(path, bytes);
    if (!status.ok)
        return status;
    status = parseRecovery(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), recovery);
    if (!status.ok)
        status.file = displayPath(path).toStdString();
    return status;
}

RecoveryFile::RecoveryFile(QString dataPath) : m_dataPath(std::move(dataPath))
{
}

QString RecoveryFile::path() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_path;
}

void RecoveryFile::adopt(const Offer &left)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    if (m_lock || !left.lock)
        return;
    m_path = left.path;
    m_lock = left.lock;
}

Status RecoveryFile::apply(const std::string &bytes)
{
    if (m_abandoned)
        return Status::success();
    // Never written: nothing to delete, nor a slot to take for it.
    if (!m_lock && bytes.empty())
        return Status::success();
    // Taking a slot syncs its lock file to the disk: done with the first
    // write, on the thread, rather than when the window opens.
    QString path = m_path;
    std::shared_ptr<QLockFile> held = m_lock;
    QLockFile::LockError error = QLockFile::NoError;
    for (int slot = 1; !held && slot <= kSlots; ++slot) {
        path = recoveryFilePath(m_dataPath, slot);
        held = lockFor(path, &error);
        // A file there waits to be offered: a window that ended without
        // saving left it, or the user kept it for the next start. It is not
        // this window's to overwrite.
        if (held && QFileInfo::exists(path))
            held.reset();
        // Only a lock another window holds is worth passing by; any other
        // failure is the folder's, and would be the same for every slot.
        else if (!held && error != QLockFile::LockFailedError)
            break;
    }
    if (!held)
        return fileFailure(recoveryFilePath(m_dataPath, 1),
            error == QLockFile::LockFailedError
                ? QStringLiteral("every recovery file beside the data file is in use")
                : QStringLiteral("cannot make a file in its folder: the folder cannot be "
                                 "written, or the disk is full"));
    if (!m_lock) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_path = path;
        m_lock = held;
    }
    if (!bytes.empty()) {
        Replaced replaced = Replaced::No;
        return writeDurably(path, QByteArray::fromStdString(bytes), replaced);
    }
    Status removed = removeDurably(path);
    // Nothing of this window's waits in it any more: the slot is free for
    // the next window that needs one, and no lock is left behind.
    if (!QFileInfo::exists(path)) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_path.clear();
        m_lock.reset();
    }
    return removed;
}

RecoveryFile::~RecoveryFile()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void RecoveryFile::post(std::string bytes)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_pending = std::move(bytes);
    }
    // Started with the first change, not with the window: most windows
    // never need it before they save.
    if (!m_thread.joinable())
        m_thread = std::thread(&RecoveryFile::run, this);
    m_wake.notify_all();
}

void RecoveryFile::settle(std::unique_lock<std::mutex> &lock)
{
    m_pending.reset();
    m_wake.wait(lock, [this] { return !m_writing; });
}

Status RecoveryFile::writeNow(const std::string &bytes, bool takeSlot)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    // The thread is idle and has nothing to do; the mutex is released for
    // the write, as apply() takes it to record the slot it finds.
    return m_lock || takeSlot ? applyUnlocked(lock, bytes) : Status::success();
}

Status RecoveryFile::applyUnlocked(std::unique_lock<std::mutex> &lock, const std::string &bytes)
{
    m_writing = true;
    lock.unlock();
    const Status written = apply(bytes);
    lock.lock();
    m_writing = false;
    if (m_listener)
        m_listener(written);
    return written;
}

void RecoveryFile::setListener(std::function<void(const Status &)> listener)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_listener = std::move(listener);
}

void RecoveryFile::abandon()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    m_abandoned = true;
    if (!m_lock)
        return;
    // A killed program's lock file stays, naming it, though the system lets
    // go of its lock on the file.
    QFile lockFile(m_path + QStringLiteral(".lock"));
    const QByteArray info = lockFile.open(QIODevice::ReadOnly) ? lockFile.readAll() : QByteArray();
    lockFile.close();
    m_lock.reset();
    if (lockFile.open(QIODevice::WriteOnly))
        lockFile.write(info);
}

void RecoveryFile::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending; });
        if (!m_pending)
            return;
        const std::string bytes = std::move(*m_pending);
        m_pending.reset();
        applyUnlocked(lock, bytes);
        m_wake.notify_all();
    }
}

std::vector<Offer> findLeftRecoveries(const QString &dataPath, bool alsoHeld)
{
    // One look at the folder rather than one for each slot, and no name
    // filter, which would build a regular expression: start-up waits for this.
    const QFileInfo data(dataPath);
    const QString prefix = data.fileName() + QStringLiteral(".unsaved");
    QStringList names;
    for (const QString &name :
        QDir(data.absolutePath())
            .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort)) {
        if (name.startsWith(prefix))
            names.append(name);
    }
    std::vector<Offer> left;
    for (int slot = 1; slot <= kSlots && !names.isEmpty(); ++slot) {
        const QString path = recoveryFilePath(dataPath, slot);
        if (!names.contains(QFileInfo(path).fileName()))
            continue;
        std::shared_ptr<QLockFile> lock = lockFor(path);
        if (lock || alsoHeld) {
            left.emplace_back();
            left.back().path = path;
            left.back().lock = std::move(lock);
        }
    }
    return left;
}

} // namespace hostally
