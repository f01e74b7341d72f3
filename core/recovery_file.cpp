#include "recovery_file.h"

#include "data_file.h"
#include "platform_file.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

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

// Locks `path`'s lock file without waiting. A lock is stale only when the
// process that took it runs no more on this computer: however long a window
// stays open, its lock stays good.
std::unique_ptr<QLockFile> lockFor(const QString &path, QLockFile::LockError *error = nullptr)
{
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    const bool locked = lock->tryLock(0);
    if (error)
        *error = lock->error();
    return locked ? std::move(lock) : nullptr;
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
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), size) != size
        || !file.flush())
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

std::unique_ptr<RecoveryFile> RecoveryFile::claim(const QString &dataPath)
{
    for (int slot = 1; slot <= kSlots; ++slot) {
        const QString path = recoveryFilePath(dataPath, slot);
        QLockFile::LockError error = QLockFile::NoError;
        if (auto lock = lockFor(path, &error))
            return std::unique_ptr<RecoveryFile>(new RecoveryFile(path, std::move(lock)));
        // Only a lock another window holds is worth passing by; any other
        // failure is the folder's, and would be the same for every slot.
        if (error != QLockFile::LockFailedError)
            return nullptr;
    }
    return nullptr;
}

RecoveryFile::RecoveryFile(QString path, std::unique_ptr<QLockFile> lock)
    : m_path(std::move(path)), m_lock(std::move(lock))
{
    m_thread = std::thread(&RecoveryFile::run, this);
}

RecoveryFile::~RecoveryFile()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void RecoveryFile::post(std::string bytes)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_pending = std::move(bytes);
    }
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
    // Held through the write: the thread has nothing to do meanwhile, and a
    // post from another thread waits rather than racing this write.
    m_lastWrite = writeRecoveryFile(m_path, bytes);
    return m_lastWrite;
}

Status RecoveryFile::remove()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settle(lock);
    return removeRecoveryFile(m_path);
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
        m_writing = true;
        lock.unlock();
        const Status written
            = bytes.empty() ? removeRecoveryFile(m_path) : writeRecoveryFile(m_path, bytes);
        lock.lock();
        m_writing = false;
        m_lastWrite = written;
        m_wake.notify_all();
    }
}

std::vector<LeftRecovery> findLeftRecoveries(const QString &dataPath, const RecoveryFile *own)
{
    std::vector<LeftRecovery> left;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const QString path = recoveryFilePath(dataPath, slot);
        if (!QFileInfo::exists(path))
            continue;
        if (own && path == own->path())
            left.push_back({path, nullptr});
        else if (std::shared_ptr<QLockFile> lock = lockFor(path))
            left.push_back({path, std::move(lock)});
    }
    return left;
}

} // namespace hostally
