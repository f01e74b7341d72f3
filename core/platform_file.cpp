#include "platform_file.h"

#include <QFile>

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

} // namespace hostally
