#pragma once

#include "data_format.h"
#include "status.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

// Reading, replacing and deleting the small files beside data.txt so that a
// crash, a power cut or a full disk never leaves one half written. Nothing
// here knows what a save is: each call does one thing to one file.

namespace hostally {

// The program's folder with "/data.txt" appended. Needs a QCoreApplication.
QString dataFilePath();

// A computer as the files beside data.txt know it: an id two computers never
// share, even with one host name, and the host name for the words users read.
struct Computer {
    std::string id; // 8 lowercase hex digits
    std::string name;
};

// This computer: its id from the system's machine id, or else its host name.
Computer thisComputer();

// `path` as messages show it: cleaned, with the platform's separators.
QString displayPath(const QString &path);

// Where the link at `path` leads, link after link, though that file need not
// exist yet; else `path`. Saves write there, leaving the link a link.
QString dataFileTarget(const QString &path);

// A failure about the file at `path`, naming it as messages show paths.
Status fileFailure(
    const QString &path, const QString &message, Status::Cause cause = Status::Cause::Other);

// Reads the plain file at `path` into `bytes`, waiting a moment for a
// program that holds it; anything else is refused unread. On failure `bytes`
// is untouched and the status names the file and reason.
Status readFile(const QString &path, QByteArray &bytes);

// Reads the data file at `path` into both tables and, when given, its bytes
// into `read`; on failure the tables are untouched.
Status loadDataFile(
    const QString &path, TallyTable &leagues, TallyTable &events, QByteArray *read = nullptr);

// Whether what is at `path`, if anything, is a plain file this process may replace.
Status checkReplaceable(const QString &path);

// Whether the folder of the data file at `path` can be written, by making a file there.
Status checkFolderWritable(const QString &path);

// Writes `bytes` to a new file "<path>.new-<random>", named in `newPath`, and
// puts it on the disk, with the mode and, where allowed, the owner of the
// file at `path`. On failure no new file remains.
Status writeNewFile(const QString &path, const QByteArray &bytes, QString &newPath);

// Renames `from` over `to` and puts the folder on the disk; `renamed` says
// whether `to` holds the new file. Another program's hold is Cause::InUse.
Status renameDurably(const QString &from, const QString &to, bool &renamed);

// writeNewFile() and renameDurably(), the new file deleted when the rename fails.
Status writeDurably(const QString &path, const QByteArray &bytes);

// Deletes the file at `path` and puts the folder on the disk; one gone is a success.
Status removeDurably(const QString &path);

// Runs `attempt` again, for two seconds at most, while it fails because
// another program holds the file at `path` (only Windows allows that).
// Returns whether it was still held when the last attempt failed.
bool retryWhileHeld(const QString &path, const std::function<bool()> &attempt);

// `handler` hears true when a file starts waiting for another program or
// another Hostally, and false when it ends.
void setWaitHandler(std::function<void(bool waiting)> handler);

// Tells the wait handler, if any, of a wait done elsewhere.
void announceWait(bool waiting);

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

// For tests: `hook`, from any thread, says at each step whether to go on, fail or crash.
void setFileHookForTesting(std::function<Injected(FileStep step, const QString &path)> hook);

} // namespace hostally
