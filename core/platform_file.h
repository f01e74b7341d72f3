#pragma once

#include <string_view>

// The few things about files that Qt does not offer, each done with the
// system's own call where it is needed and as Qt does it everywhere else.

class QFile;
class QFileDevice;
class QString;

namespace hostally {

// Opens `file` for reading without waiting on anyone: on Unix, opening a FIFO
// the usual way blocks until some other program writes to it.
bool openForReadingWithoutBlocking(QFile &file);

// How another program has the file at a path open.
enum class FileHold {
    None, // not in a way that keeps Hostally from reading or replacing it
    InUse, // without sharing it: Windows refuses to read or replace it
    AccessDenied, // Windows refuses access, which a file about to go away gives too
};

// Whether another program holds the file at `path` so that it cannot be read
// or replaced now. Only Windows lets a program deny others a file it holds;
// elsewhere this is always FileHold::None.
FileHold fileHold(const QString &path);

// Gives the open file `newFile` the mode of the file at `oldPath` exactly,
// and its owner and group where the system lets this process (on Unix, root
// may give a file to anyone, and the owner to a group they are in); does
// nothing elsewhere, or when nothing is at `oldPath`. A file that replaces
// another thus stays its owner's and its group's, read-only if it was.
void keepOwnerAndMode(QFileDevice &newFile, const QString &oldPath);

// Renames the file `from` over `to`, replacing it. On failure returns false,
// puts the system's reason in `error` and sets `held` when another program
// holds `to` so that it cannot be replaced (only Windows has that).
bool renameOver(const QString &from, const QString &to, QString &error, bool &held);

// Asks the system to put everything written to the open `file` on the disk
// itself (fsync, or FlushFileBuffers on Windows). On failure returns false and
// puts the system's reason in `error`, when given.
bool syncToDisk(QFileDevice &file, QString *error);

// Puts the entries of `folder` on the disk, so that a file just renamed into
// it stays there after a power cut: on Unix by syncing the folder itself.
// Elsewhere the rename is already durable and this returns true. On failure
// returns false and puts the system's reason in `error`, when given.
bool syncFolder(const QString &folder, QString *error);

// The Windows code page that a data file's text which is not UTF-8 is in: on
// Windows the system's ANSI code page, what Notepad's "ANSI" writes there;
// elsewhere, where the system names none, Windows-1252.
unsigned textCodePage();

// Decodes `bytes` in Windows code page `codePage` with the system's own
// tables into `text`. Returns false where the system has none for it: on
// Windows for a code page it does not know, and always elsewhere.
bool decodeWithSystem(std::string_view bytes, unsigned codePage, QString &text);

} // namespace hostally
