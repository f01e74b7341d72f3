#include "recovery_file.h"

#include "data_file.h"
#include "platform_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSysInfo>

#include <set>
#include <utility>

namespace hostally {

namespace {

// More windows on one data file than anyone keeps open; the bound keeps a
// folder full of locks from being searched for ever.
constexpr int kSlots = 99;

// A recovery file is the data file's size twice over and a few lines more.
constexpr qint64 kMaxRecoverySize = 40 * 1024 * 1024;

Status fileFailure(const QString &path, const QString &message)
{
    Status s = Status::failure(0, message.toStdString());
    s.file = displayPath(path).toStdString();
    return s;
}

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

bool leftByAnEarlierProcess(const QLockFile &lock, const QString &lockPath)
{
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (!lock.getLockInfo(&pid, &hostName, &appName))
        return false;
    std::lock_guard<std::mutex> guard(heldMutex);
    return pid == QCoreApplication::applicationPid() && hostName == QSysInfo::machineHostName()
        && heldLocks.count(lockPath) == 0;
}

// Locks `path`'s lock file without waiting. A lock is stale only when the
// process that took it runs no more on this computer: however long a window
// stays open, its lock stays good.
std::shared_ptr<QLockFile> lockFor(const QString &path, QLockFile::LockError *error = nullptr)
{
    const QString lockPath = path + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(lockPath);
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
    const bool mayBeLeft = kHeldLocksStayOpen || leftByAnEarlierProcess(*lock, lockPath);
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

Status writeRecoveryFile(const QString &path, const std::string &bytes)
{
    QSaveFile file(path);
    QString error;
    const qint64 size = static_cast<qint64>(bytes.size());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), size) != size || !file.flush())
        return fileFailure(path, QStringLiteral("cannot write the file: ") + file.errorString());
    if (!syncToDisk(file, &error))
        return fileFailure(path, QStringLiteral("cannot write the file to disk: ") + error);
    if (!file.commit())
        return fileFailure(path, QStringLiteral("cannot save the file: ") + file.errorString());
    if (!syncFolder(QFileInfo(path).absolutePath(), &error))
        return fileFailure(path, QStringLiteral("cannot write the folder to disk: ") + error);
    return Status::success();
}

Status readRecoveryFile(const QString &path, Recovery &recovery)
{
    QFile file(path);
    if (!openForReadingWithoutBlocking(file))
        return fileFailure(
            path, QStringLiteral("cannot open the file for reading: ") + file.errorString());
    if (file.isSequential() || file.size() > kMaxRecoverySize)
        return fileFailure(path, QStringLiteral("it is not a file of unsaved counts"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fileFailure(path, QStringLiteral("cannot read the file: ") + file.errorString());
    Status status = parseRecovery(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), recovery);
    if (!status.ok)
        status.file = displayPath(path).toStdString();
    return status;
}

Status removeRecoveryFile(const QString &path)
{
    QFile file(path);
    if (file.remove() || !QFileInfo::exists(path))
        return Status::success();
    return fileFailure(path, QStringLiteral("cannot delete the file: ") + file.errorString());
}

RecoveryFile::RecoveryFile(QString dataPath) : m_dataPath(std::move(dataPath))
{
}

QString RecoveryFile::path() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_path;
}

void RecoveryFile::adopt(const LeftRecovery &left)
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
    // Never written: nothing to delete, nor a slot to take for it.
    if (!m_lock && bytes.empty())
        return Status::success();
    // Taking a slot syncs its lock file to the disk: done with the first
    // write, on the thread, rather than when the window opens.
    QString path = m_path;
    std::shared_ptr<QLockFile> held = m_lock;
    for (int slot = 1; !held && slot <= kSlots; ++slot) {
        path = recoveryFilePath(m_dataPath, slot);
        QLockFile::LockError error = QLockFile::NoError;
        held = lockFor(path, &error);
        // Only a lock another window holds is worth passing by; any other
        // failure is the folder's, and would be the same for every slot.
        if (!held && error != QLockFile::LockFailedError)
            break;
    }
    if (!held)
        return fileFailure(recoveryFilePath(m_dataPath, 1),
            QStringLiteral("no recovery file beside the data file can be locked"));
    if (!m_lock) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_path = path;
        m_lock = held;
    }
    return bytes.empty() ? removeRecoveryFile(path) : writeRecoveryFile(path, bytes);
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

Status RecoveryFile::writeNow(const std::string &bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    // The thread is idle and has nothing to do; the mutex is released for
    // the write, as apply() takes it to record the slot it finds.
    return applyUnlocked(lock, bytes);
}

Status RecoveryFile::applyUnlocked(std::unique_lock<std::mutex> &lock, const std::string &bytes)
{
    m_writing = true;
    lock.unlock();
    const Status written = apply(bytes);
    lock.lock();
    m_writing = false;
    m_lastWrite = written;
    return written;
}

Status RecoveryFile::remove()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    // Never written: there is nothing to delete, nor a slot to take for it.
    return m_lock ? removeRecoveryFile(m_path) : Status::success();
}

Status RecoveryFile::lastWrite() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lastWrite;
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

std::vector<LeftRecovery> findLeftRecoveries(const QString &dataPath, const RecoveryFile *own)
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
    std::vector<LeftRecovery> left;
    for (int slot = 1; slot <= kSlots && !names.isEmpty(); ++slot) {
        const QString path = recoveryFilePath(dataPath, slot);
        if (!names.contains(QFileInfo(path).fileName()))
            continue;
        if (own && path == own->path())
            left.push_back({path, nullptr});
        else if (std::shared_ptr<QLockFile> lock = lockFor(path))
            left.push_back({path, std::move(lock)});
    }
    return left;
}

} // namespace hostally
