#include "platform_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace hostally {

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

void keepOwner(QFileDevice &newFile, const QFileInfo &old)
{
#ifdef Q_OS_UNIX
    if (!old.exists() || (old.ownerId() == ::geteuid() && old.groupId() == ::getegid()))
        return;
    // Only root may give a file away; anyone else still saves, and the file
    // becomes theirs, rather than not saving at all.
    const int refused = ::fchown(newFile.handle(), old.ownerId(), old.groupId());
    Q_UNUSED(refused);
#else
    Q_UNUSED(newFile);
    Q_UNUSED(old);
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
