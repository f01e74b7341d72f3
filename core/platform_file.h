#pragma once

// The few things about files that Qt does not offer, each done with the
// system's own call where it is needed and as Qt does it everywhere else.

class QFile;

namespace hostally {

// Opens `file` for reading without waiting on anyone: on Unix, opening a FIFO
// the usual way blocks until some other program writes to it.
bool openForReadingWithoutBlocking(QFile &file);

} // namespace hostally
