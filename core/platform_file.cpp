#include "platform_file.h"

#include <QDir>
#include <QFile>
#include <QString>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstdio>
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

// Puts `reason` in `error`, when given, and returns false.
bool failed(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
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

} // namespace

bool openForReadingWithoutBlocking(QFile &file)
{
#ifdef Q_OS_UNIX
    // O_NONBLOCK changes nothing for a plain file, and lets the caller see
    // that a FIFO swapped in at the last moment is not one.
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

FileHold fileHold(const QString &path)
{
#ifdef Q_OS_WIN
    // Asks for what reading and replacing need while sharing everything:
    // only a handle that denies others reading or deleting refuses that.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
        GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return FileHold::None;
    }
    switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return FileHold::InUse;
    case ERROR_ACCESS_DENIED:
        return FileHold::AccessDenied;
    default:
        return FileHold::None;
    }
#else
    Q_UNUSED(path);
    return FileHold::None;
#endif
}

void keepOwnerAndMode(QFileDevice &newFile, const QString &oldPath)
{
#ifdef Q_OS_UNIX
    struct stat old = {};
    if (::stat(QFile::encodeName(oldPath).constData(), &old) != 0)
        return;
    // Only root may give a file away; anyone may give their file to a group
    // they are in, which keeps it writable for a group that shares it. Anyone
    // else still saves, and the file becomes theirs, rather than not saving.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid())
        && ::fchown(newFile.handle(), old.st_uid, old.st_gid) != 0) {
        const int refused = ::fchown(newFile.handle(), static_cast<uid_t>(-1), old.st_gid);
        Q_UNUSED(refused);
    }
    // The mode's own bits, not what QFileInfo says this process may do: for
    // root that is everything, which would lift a write protection. Set after
    // the owner, whose change takes away the set-user and set-group bits.
    const int kept = ::fchmod(newFile.handle(), old.st_mode & 07777);
    Q_UNUSED(kept);
#else
    Q_UNUSED(newFile);
    Q_UNUSED(oldPath);
#endif
}

bool renameOver(const QString &from, const QString &to, QString &error, bool &held)
{
    held = false;
#if defined(Q_OS_UNIX)
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
        || failed(&error, systemReason(errno));
#elif defined(Q_OS_WIN)
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
            reinterpret_cast<const wchar_t *>(target.utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = qt_error_string(static_cast<int>(GetLastError()));
    held = fileHold(to) == FileHold::InUse;
    return false;
#else
    QFile::remove(to);
    return QFile::rename(from, to) || failed(&error, QStringLiteral("cannot rename the file"));
#endif
}

bool syncToDisk(QFileDevice &file, QString *error)
{
    // Whatever Qt still buffers has to reach the system before the system
    // can put it on the disk.
    if (!file.flush())
        return failed(error, file.errorString());
#if defined(Q_OS_UNIX)
    return fsyncRetrying(file.handle()) || failed(error, systemReason(errno));
#elif defined(Q_OS_WIN)
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return (handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle))
        || failed(error, qt_error_string(static_cast<int>(GetLastError())));
#else
    return true;
#endif
}

bool syncFolder(const QString &folder, QString *error)
{
#ifdef Q_OS_UNIX
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
        return failed(error, systemReason(errno));
    const bool synced = fsyncRetrying(fd);
    const int reason = errno;
    ::close(fd);
    return synced || failed(error, systemReason(reason));
#else
    Q_UNUSED(folder);
    Q_UNUSED(error);
    return true;
#endif
}

unsigned textCodePage()
{
#ifdef Q_OS_WIN
    return GetACP();
#else
    return 1252;
#endif
}

bool decodeWithSystem(std::string_view bytes, unsigned codePage, QString &text)
{
#ifdef Q_OS_WIN
    if (bytes.empty()) {
        text.clear();
        return true;
    }
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    text.resize(length);
    MultiByteToWideChar(
        codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t *>(text.data()), length);
    return true;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(codePage);
    Q_UNUSED(text);
    return false;
#endif
}

} // namespace hostally
