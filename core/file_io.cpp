#include "file_io.h"

#include "log.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryFile>
#include <QThread>

#include <mutex>
#include <utility>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#endif

namespace hostally {

namespace {

// A data file is a few kilobytes: a wrong file chosen by mistake stays unread.
constexpr qint64 kMaxFileMegabytes = 16;
constexpr qint64 kMaxFileSize = kMaxFileMegabytes * 1024 * 1024;
// Sync clients, virus scanners and indexers hold a file a moment after each write.
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

// What a step a test stopped reports: the program is gone, or the disk failed there.
Status stopped(const QString &path, Injected how)
{
    return fileFailure(path,
        how == Injected::Crash ? QStringLiteral("the program was ended here")
                               : QStringLiteral("Input/output error"));
}

Status notPlainFile(const QString &path, bool folder)
{
    return fileFailure(path,
        folder ? QStringLiteral("it is a folder, not a plain file")
               : QStringLiteral("it is a pipe, socket or device, not a plain file"),
        Status::Cause::NotPlainFile);
}

Status heldByAnotherProgram(const QString &path)
{
    return fileFailure(path,
        QStringLiteral("the file is in use by another program: close that program (a "
                       "spreadsheet or an editor, perhaps)"),
        Status::Cause::InUse);
}

// The existing file at `path` may not be written: says so, and why.
Status readOnly(const QString &path)
{
#ifdef Q_OS_WIN
    // What Windows' own file properties call it.
    const QString reason = QStringLiteral("it is read-only (untick Read-only in its Properties)");
#else
    // Opening the file to append, never to create, writes nothing and
    // brings back the system's own reason.
    QFile probe(path);
    const QString reason = probe.open(QIODevice::Append | QIODevice::ExistingOnly)
        ? QStringLiteral("its permissions do not allow writing")
        : probe.errorString();
#endif
    return fileFailure(path, QStringLiteral("the file cannot be written: ") + reason);
}

#ifdef Q_OS_UNIX
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// fsync, again while a signal interrupts it.
bool fsyncRetrying(int fd)
{
    int result;
    do {
        result = ::fsync(fd);
    } while (result == -1 && errno == EINTR);
    return result == 0;
}
#endif

// Opens `file` for reading without waiting on a FIFO's writer.
bool openWithoutBlocking(QFile &file)
{
#ifdef Q_OS_UNIX
    // O_NONBLOCK changes nothing for a plain file.
    const int fd
        = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return file.open(QIODevice::ReadOnly); // fails again, with the system's reason
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
#else
    return file.open(QIODevice::ReadOnly);
#endif
}

// Whether another program holds the file at `path` unshared, as only Windows
// allows; `orDenied` counts a refused access too, as a file going away gives.
bool heldElsewhere(const QString &path, bool orDenied = true)
{
#ifdef Q_OS_WIN
    // Only a handle that denies others reading or deleting refuses this.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
        GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
        || (orDenied && error == ERROR_ACCESS_DENIED);
#else
    Q_UNUSED(path);
    Q_UNUSED(orDenied);
    return false;
#endif
}

// Gives the open `newFile` the mode of the file at `oldPath`, and its owner
// and group where Unix lets this process: a replaced file stays as it was.
void keepOwnerAndMode(QFile &newFile, const QString &oldPath)
{
#ifdef Q_OS_UNIX
    struct stat old = {};
    if (::stat(QFile::encodeName(oldPath).constData(), &old) != 0)
        return;
    // Only root may give a file away, anyone to a group they are in; else the
    // file becomes theirs rather than not being saved.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid())
        && ::fchown(newFile.handle(), old.st_uid, old.st_gid) != 0) {
        const int refused = ::fchown(newFile.handle(), static_cast<uid_t>(-1), old.st_gid);
        Q_UNUSED(refused);
    }
    // The mode's own bits (QFileInfo gives root everything), set after the
    // owner, whose change clears the set-id bits.
    const int kept = ::fchmod(newFile.handle(), old.st_mode & 07777);
    Q_UNUSED(kept);
#else
    Q_UNUSED(newFile);
    Q_UNUSED(oldPath);
#endif
}

// Puts what was written to `file` on the disk itself; the reason on failure.
bool syncToDisk(QFile &file, QString &error)
{
    if (!file.flush()) {
        error = file.errorString();
        return false;
    }
#if defined(Q_OS_UNIX)
    if (fsyncRetrying(file.handle()))
        return true;
    error = systemReason(errno);
    return false;
#elif defined(Q_OS_WIN)
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle))
        return true;
    error = qt_error_string(static_cast<int>(GetLastError()));
    return false;
#else
    return true;
#endif
}

// Renames `from` over `to`; on failure the reason, and whether another program holds `to`.
bool renameOver(const QString &from, const QString &to, QString &error, bool &held)
{
    held = false;
#if defined(Q_OS_UNIX)
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = systemReason(errno);
    return false;
#elif defined(Q_OS_WIN)
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
            reinterpret_cast<const wchar_t *>(target.utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = qt_error_string(static_cast<int>(GetLastError()));
    held = heldElsewhere(to, false);
    return false;
#else
    QFile::remove(to);
    error = QStringLiteral("cannot rename the file");
    return QFile::rename(from, to);
#endif
}

// Puts the folder of `path` on the disk, so that a rename or deletion there
// outlives a power cut (elsewhere than Unix one already does). `step` is for tests.
Status syncFolderOf(const QString &path, FileStep step)
{
    const QString folder = QFileInfo(path).absolutePath();
    QString reason = QStringLiteral("Input/output error");
    const Injected how = injected(step, path);
    if (how == Injected::Crash)
        return stopped(path, how);
    bool synced = how == Injected::Proceed;
#ifdef Q_OS_UNIX
    if (synced) {
        const int fd
            = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        synced = fd != -1 && fsyncRetrying(fd);
        reason = systemReason(errno);
        if (fd != -1)
            ::close(fd);
    }
#endif
    if (!synced)
        return fileFailure(path,
            QStringLiteral("cannot write the folder %1 to the disk: %2")
                .arg(displayPath(folder), reason));
    const Injected after = injected(FileStep::Synced, path);
    return after == Injected::Crash ? stopped(path, after) : Status::success();
}

} // namespace

QString dataFilePath()
{
    // In the root folder "//data.txt", which the system reads as "/data.txt".
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data.txt");
}

Computer thisComputer()
{
    // As Windows shows it to the user, and OneDrive names its copies with it.
#ifdef Q_OS_WIN
    QString name = qEnvironmentVariable("COMPUTERNAME");
#else
    QString name = QSysInfo::machineHostName();
#endif
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    Computer computer {{}, name.isEmpty() ? "computer" : name.toStdString()};
    for (const char c : QSysInfo::machineUniqueId().toLower().toStdString()) {
        if (std::isxdigit(static_cast<unsigned char>(c)) && computer.id.size() < 8)
            computer.id += c;
    }
    if (computer.id.size() < 8)
        computer.id = QString::number(versionHash(computer.name), 16)
                          .rightJustified(16, QLatin1Char('0'))
                          .left(8)
                          .toStdString();
    return computer;
}

QString displayPath(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

QString dataFileTarget(const QString &path)
{
    // canonicalFilePath() gives nothing for a link to a file not there yet.
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

Status fileFailure(const QString &path, const QString &message, Status::Cause cause)
{
    Status s = Status::failure(0, message.toStdString(), cause);
    s.file = displayPath(path).toStdString();
    return s;
}

Status readFile(const QString &path, QByteArray &bytes)
{
    // A FIFO, device or socket holds no counts: look before opening.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return notPlainFile(path, info.isDir());
    QFile file(path);
    if (retryWhileHeld(path, [&file] { return openWithoutBlocking(file); })
        && heldElsewhere(path, false))
        return heldByAnotherProgram(path);
    if (!file.isOpen())
        return fileFailure(path,
            QStringLiteral("cannot open the file for reading: ") + file.errorString(),
            QFileInfo::exists(path) ? Status::Cause::Other : Status::Cause::Missing);
    // A FIFO swapped in since the look above.
    if (file.isSequential())
        return notPlainFile(path, false);
    const auto tooLarge = [&path] {
        return fileFailure(path,
            QStringLiteral("cannot read the file: it is larger than %1 MB").arg(kMaxFileMegabytes));
    };
    // Reading one byte past the size catches a file that grows.
    const qint64 size = file.size();
    if (size > kMaxFileSize)
        return tooLarge();
    QByteArray read = file.read(size + 1);
    if (read.size() > size && file.error() == QFileDevice::NoError)
        read += file.read(kMaxFileSize + 1 - read.size());
    if (file.error() != QFileDevice::NoError)
        return fileFailure(path, QStringLiteral("cannot read the file: ") + file.errorString());
    if (read.size() > kMaxFileSize)
        return tooLarge();
    bytes = std::move(read);
    return Status::success();
}

Status loadDataFile(const QString &path, TallyTable &leagues, TallyTable &events, QByteArray *read)
{
    QByteArray bytes;
    Status s = readFile(path, bytes);
    if (!s.ok)
        return s;
    s = parseDataFile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
        leagues, events);
    if (!s.ok)
        s.file = displayPath(path).toStdString();
    else if (read)
        *read = std::move(bytes);
    return s;
}

Status checkReplaceable(const QString &path)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return notPlainFile(path, target.isDir());
    return target.exists() && !target.isWritable() ? readOnly(path) : Status::success();
}

Status checkFolderWritable(const QString &path)
{
    // Permission bits do not tell on Windows, nor on a read-only share.
    const QString folder = QFileInfo(dataFileTarget(path)).absolutePath();
    QTemporaryFile probe(folder + QStringLiteral("/data.txt.XXXXXX"));
    if (probe.open())
        return Status::success();
    return Status::failure(0,
        (QStringLiteral("the folder %1 cannot be written: ").arg(displayPath(folder))
            + probe.errorString())
            .toStdString());
}

Status writeNewFile(const QString &path, const QByteArray &bytes, QString &newPath)
{
    if (const Injected how = injected(FileStep::Start, path); how != Injected::Proceed)
        return stopped(path, how);
    // In the same folder, so that the rename is one step of the file system.
    QFile file(path + QStringLiteral(".new-")
        + QString::number(QRandomGenerator::global()->generate(), 36));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fileFailure(path,
            QStringLiteral("the folder %1 cannot be written: %2")
                .arg(displayPath(QFileInfo(path).absolutePath()), file.errorString()));
    keepOwnerAndMode(file, path);
    // On a full or failing disk a rename would put a cut file in the old one's place.
    QString reason;
    Status failed;
    if (file.write(bytes) != bytes.size() || !file.flush())
        failed = fileFailure(path, QStringLiteral("cannot write the file: ") + file.errorString());
    else if (!syncToDisk(file, reason))
        failed = fileFailure(path, QStringLiteral("cannot write the file to the disk: ") + reason);
    // Closed first: Windows renames no open file, and remove() fails on a failed flush.
    file.close();
    const Injected how = failed.ok ? injected(FileStep::Written, path) : Injected::Fail;
    if (how == Injected::Crash)
        return stopped(path, how);
    if (how == Injected::Fail) {
        file.remove();
        return failed.ok ? stopped(path, how) : failed;
    }
    newPath = file.fileName();
    return Status::success();
}

Status renameDurably(const QString &from, const QString &to, bool &renamed)
{
    QString reason;
    bool held = false;
    renamed = renameOver(from, to, reason, held);
    if (!renamed)
        return held ? heldByAnotherProgram(to)
                    : fileFailure(to, QStringLiteral("cannot save the file: ") + reason);
    return syncFolderOf(to, FileStep::Swapped);
}

Status writeDurably(const QString &path, const QByteArray &bytes)
{
    QString newPath;
    Status written = writeNewFile(path, bytes, newPath);
    bool renamed = false;
    if (written.ok && !(written = renameDurably(newPath, path, renamed)).ok && !renamed)
        QFile::remove(newPath);
    return written;
}

Status removeDurably(const QString &path)
{
    if (const Injected how = injected(FileStep::Start, path); how != Injected::Proceed)
        return stopped(path, how);
    QFile file(path);
    retryWhileHeld(path, [&file, &path] { return file.remove() || !QFileInfo::exists(path); });
    if (QFileInfo::exists(path))
        return fileFailure(path, QStringLiteral("cannot delete the file: ") + file.errorString());
    return syncFolderOf(path, FileStep::Removed);
}

bool retryWhileHeld(const QString &path, const std::function<bool()> &attempt)
{
    QElapsedTimer waited;
    bool held = false;
    while (!attempt()) {
        held = heldElsewhere(path);
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

void setFileHookForTesting(std::function<Injected(FileStep step, const QString &path)> hook)
{
    std::lock_guard<std::mutex> guard(hookMutex);
    fileHook = std::move(hook);
}

} // namespace hostally
