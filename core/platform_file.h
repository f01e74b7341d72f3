#pragma once

// The few things about files that Qt does not offer, each done with the
// system's own call where it is needed and as Qt does it everywhere else.

class QFile;
class QFileDevice;
class QFileInfo;

namespace hostally {

// Opens `file` for reading without waiting on anyone: on Unix, opening a FIFO
// the usual way blocks until some other program writes to it.
bool openForReadingWithoutBlocking(QFile &file);

// Gives the open file `newFile` the owner and group of `old`, where the
// system lets this process (on Unix, root may give a file to anyone); does
// nothing elsewhere. A file that replaces another thus stays its owner's.
void keepOwner(QFileDevice &newFile, const QFileInfo &old);

} // namespace hostally
