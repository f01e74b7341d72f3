#include "platform_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
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

} // namespace hostally
