#include "recovery_file.h"

#include "file_io.h"
#include "locks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <utility>

namespace hostally {

namespace {

// More windows on one data file than anyone keeps open; the bound keeps a
// folder full of locks from being searched for ever.
constexpr int kSlots = 99;

// Deletes what a write of the recovery file at `path` that a crash ended
// left: its slot's lock is held, so no write of it is under way. Runs on the
// writer thread, so without name filters: their matcher keeps data in the
// thread that Windows frees from another one once it ended, and that crashes.
void tidyLeftovers(const QString &path)
{
    const QFileInfo file(path);
    const QString prefix = file.fileName() + QStringLiteral(".new-");
    for (const QString &name :
        QDir(file.absolutePath()).entryList(QDir::Files | QDir::Hidden, QDir::NoSort)) {
        if (name.startsWith(prefix))
            QFile::remove(file.absolutePath() + QLatin1Char('/') + name);
    }
}

} // namespace

QString recoveryFilePath(const QString &dataPath, const std::string &computer, int slot)
{
    QString path = dataPath + QStringLiteral(".unsaved");
    if (!computer.empty())
        path += QLatin1Char('-') + QString::fromStdString(computer);
    return slot <= 1 ? path : path + QLatin1Char('-') + QString::number(slot);
}

std::vector<Offer> findLeftRecoveries(
    const QString &dataPath, const std::string &computer, bool alsoHeld)
{
    // One look at the folder rather than one for each slot: start-up waits for this.
    const QFileInfo data(dataPath);
    const QRegularExpression ours(
        QStringLiteral("^%1\\.unsaved(-%2)?(-[0-9]+)?$")
            .arg(QRegularExpression::escape(data.fileName()), QString::fromStdString(computer)));
    QStringList names;
    for (const QString &name :
        QDir(data.absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (ours.match(name).hasMatch())
            names.append(name);
    }
    std::vector<Offer> left;
    for (const std::string &form : {computer, std::string()}) {
        for (int slot = 1; slot <= kSlots && !names.isEmpty(); ++slot) {
            const QString path = recoveryFilePath(dataPath, form, slot);
            if (!names.removeOne(QFileInfo(path).fileName()))
                continue;
            std::shared_ptr<QLockFile> lock = lockRecoveryFile(path);
            if (!lock && !alsoHeld)
                continue;
            if (lock)
                tidyLeftovers(path);
            Offer &offer = left.emplace_back();
            offer.path = path;
            offer.lock = std::move(lock);
            QByteArray bytes;
            offer.read = readFile(path, bytes);
            if (offer.read.ok)
                offer.read = parseRecovery(bytes.toStdString(), offer.recovery);
            if (!offer.read.ok)
                offer.read.file = displayPath(path).toStdString();
        }
    }
    return left;
}

RecoveryFile::RecoveryFile(QString dataPath, std::string computer)
    : m_dataPath(std::move(dataPath)), m_computer(std::move(computer))
{
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

QString RecoveryFile::path() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_path;
}

Status RecoveryFile::apply(const std::string &bytes)
{
    // Never written: nothing to delete, nor a slot to take for it.
    if (m_abandoned || (!m_lock && bytes.empty()))
        return Status::success();
    // Taking a slot syncs its lock file to the disk: done with the first
    // write, on the thread, rather than when the window opens.
    QString path = m_path;
    std::shared_ptr<QLockFile> held = m_lock;
    bool folderFails = false;
    for (int slot = 1; !held && !folderFails && slot <= kSlots; ++slot) {
        path = recoveryFilePath(m_dataPath, m_computer, slot);
        held = lockRecoveryFile(path, &folderFails);
        // A file there waits to be offered: a window that ended without
        // saving left it, or the user kept it for the next start. It is not
        // this window's to overwrite.
        if (held && QFileInfo::exists(path))
            held.reset();
    }
    if (!held)
        return fileFailure(recoveryFilePath(m_dataPath, m_computer, 1),
            !folderFails ? QStringLiteral("every recovery file beside the data file is in use")
                         : QStringLiteral("cannot make a file in its folder: the folder cannot be "
                                          "written, or the disk is full"));
    if (!m_lock) {
        tidyLeftovers(path);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_path = path;
        m_lock = held;
    }
    if (!bytes.empty())
        return writeDurably(path, QByteArray::fromStdString(bytes));
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
    leaveLockAsKilled(m_lock);
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

} // namespace hostally
