#pragma once

#include "data_format.h"
#include "status.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <string_view>

class QFile;

// Reading, replacing and deleting the small files beside data.txt so that a
// crash, a power cut or a full disk never leaves one half written, and the
// few things about files that Qt does not offer. Nothing here knows what a
// save is: each call does one thing to one file and says how it went.

namespace hostally {

// Where the data file lives: the program's folder with "/data.txt" appended.
// Needs a QCoreApplication.
QString dataFilePath();

// A computer as the files beside data.txt know it: an id from the system's
// machine id (/etc/machine-id, Windows' MachineGuid) or else its host name,
// which two computers never share, and the host name for the words users read.
struct Computer {
    std::string id; // 8 lowercase hex digits
    std::string name;
};

// This computer.
Computer thisComputer();

// `path` as messages show it: cleaned, with the platform's separators. The
// path itself is still what opens the file.
QString displayPath(const QString &path);

// The file that `path` names: where a link, link after link, points, though
// that file need not exist yet; otherwise `path` itself. Saving writes there
// and leaves the link a link; the files beside data.txt live there too.
QString dataFileTarget(const QString &path);

// A failure about the file at `path`, which it names as messages show paths.
Status fileFailure(
    const QString &path, const QString &message, Status::Cause cause = Status::Cause::Other);

// Reads the plain file at `path` (or the file a link there names) into
// `bytes`, waiting a moment for a program that holds it; anything but a
// plain file is refused without being read or waited on. On failure `bytes`
// is untouched and the status names the file and reason.
Status readFile(const QString &path, QByteArray &bytes);

// Reads the data file at `path` into both tables and, when given, its bytes
// into `read`. On failure the tables are untouched and the status names the file.
Status loadDataFile(
    const QString &path, TallyTable &leagues, TallyTable &events, QByteArray *read = nullptr);

// Whether the file at `path`, when it is there, is a plain file this process
// may replace: a folder or a device is refused, and so is a file made read-only.
Status checkReplaceable(const QString &path);

// Whether the folder of the data file at `path` can be written, found out by
// making and removing a temporary file there; the status names the folder.
Status checkFolderWritable(const QString &path);

// Whether the data file at `path`, when it is there, may be written.
Status checkFileWritable(const QString &path);

// Writes `bytes` to a new file beside `path` and puts it on the disk; its
// path goes into `newPath`. It takes the mode of the file at `path` exactly
// and, where the system allows, its owner and group. On failure no new file
// remains. The new file's name is `path` with ".new-" and a random word.
Status writeNewFile(const QString &path, const QByteArray &bytes, QString &newPath);

// Renames the file `from` over `to` and puts the folder on the disk.
// `renamed` says whether `to` holds the new file: after the rename only the
// folder's sync can fail. A file another program holds fails with
// Status::Cause::InUse.
Status renameDurably(const QString &from, const QString &to, bool &renamed);

// writeNewFile() and renameDurably(), the new file deleted when the rename fails.
Status writeDurably(const QString &path, const QByteArray &bytes);

// Deletes the file at `path`, waiting a moment for a program that holds it,
// and syncs its folder so that a power cut cannot bring it back; a file
// already gone is a success.
Status removeDurably(const QString &path);

// Runs `attempt` again, for two seconds at most, while it fails because
// another program holds the file at `path` (as only Windows allows). Returns
// whether the file was still held when the last attempt failed.
bool retryWhileHeld(const QString &path, const std::function<bool()> &attempt);

// `handler` is called with true when a file starts waiting for another
// program or another Hostally to let go of it, and with false when it ends.
void setWaitHandler(std::function<void(bool waiting)> handler);

// Calls the handler set by setWaitHandler, if any: for a wait done elsewhere.
void announceWait(bool waiting);

// The Windows code page that a data file's text which is not UTF-8 is in: on
// Windows the system's ANSI code page, what Notepad's "ANSI" writes there;
// elsewhere, where the system names none, Windows-1252.
unsigned textCodePage();

// Decodes `bytes` in Windows code page `codePage` with the system's own
// tables into `text`. Returns false where the system has none for it: on
// Windows for a code page it does not know, and always elsewhere.
bool decodeWithSystem(std::string_view bytes, unsigned codePage, QString &text);

// The steps of the calls above at which tests may stop them.
enum class FileStep {
    Start, // nothing done yet: a Fail is a file that cannot be made or deleted
    Written, // the new file is on the disk under its own name; a Fail is a failed write
    Swapped, // renamed over the old file, the folder not synced; a Fail is a failed sync
    Removed, // deleted, the folder not synced; a Fail is a failed sync
    Synced, // the folder is on the disk
};

// What a test makes of a step.
enum class Injected {
    Proceed,
    Fail, // the step fails, as on a failing disk
    Crash, // the program dies here: everything stays as it is on the disk
};

// For tests: `hook` (when set) is asked at each step which file operation to
// fail or to end as a crash would. It may be asked from any thread.
void setFileHookForTesting(std::function<Injected(FileStep step, const QString &path)> hook);

} // namespace hostally
