#pragma once

#include "data_format.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace hostally {

// Where the data file lives: the program's folder with "/data.txt" appended.
// Needs a QCoreApplication.
QString dataFilePath();

// `path` as messages show it: cleaned, with the platform's separators. The
// path itself is still what opens the file.
QString displayPath(const QString &path);

// Reads the bytes of the data file at `path` into `bytes`; on failure `bytes`
// is untouched and the status names the file and reason. Anything but a plain
// file (or a link to one) is refused without being read or waited on.
Status readDataFileBytes(const QString &path, QByteArray &bytes);

// Reads the data file at `path` into both tables and, when given, its bytes as
// read into `read`. On failure the tables are untouched, nothing on disk
// changes, and the status names the file.
Status loadDataFile(
    const QString &path, TallyTable &leagues, TallyTable &events, QByteArray *read = nullptr);

// The file that `path` names: where a link, link after link, points, though
// that file need not exist yet; otherwise `path` itself. Saving writes there
// and leaves the link a link.
QString dataFileTarget(const QString &path);

// Replaces the data file at `path` with both tables and, when given, puts the
// bytes written into `written`. The old file is swapped for the new one only
// once every byte is on disk, with the old one's permissions and, where the
// system allows, its owner and group; on failure it is left as it was, no
// temporary file remains, and the status names the file, what could not be
// written and the system's reason.
Status saveDataFile(const QString &path, const TallyTable &leagues, const TallyTable &events,
    QByteArray *written = nullptr);

// How far one try at replacing the data file got.
enum class Replaced {
    No, // data.txt is as it was
    Superseded, // the new file was ready, but `stillCurrent` said no: as No
    Yes, // data.txt holds the new bytes, though perhaps not yet on the disk
};

// One try at what saveDataFile does, with `bytes`: writes them beside the
// file `path` names and puts them on disk; then, just before the swap, asks
// `stillCurrent` (when given) whether they are still what to write. Never
// waits: a file another program holds fails with Status::Cause::InUse.
// `replaced` says how far it got, also on failure: after the swap only
// syncing the folder can fail.
Status replaceDataFile(const QString &path, const QByteArray &bytes,
    const std::function<bool()> &stillCurrent, Replaced &replaced);

// Whether the folder of the data file at `path` can be written, found out by
// making and removing a temporary file there. On failure the status names the
// folder and the system's reason.
Status checkFolderWritable(const QString &path);

// Whether the data file at `path`, when it is there, may be written: a file
// made read-only (its permissions, or its Read-only attribute on Windows)
// would refuse every save. On failure the status names the file and why.
Status checkFileWritable(const QString &path);

// On Windows, reading or replacing the data file while another program holds
// it waits about two seconds for the program to let go before it fails with
// Status::Cause::InUse. `handler` is called with true when such a wait starts
// and with false when it ends.
void setWaitHandler(std::function<void(bool waiting)> handler);

// Calls the handler set by setWaitHandler, if any: for a wait done elsewhere.
void announceWait(bool waiting);

// For tests: while `reason` is not empty, putting a new data file on disk
// fails with it, as on a failing disk.
void setSyncFaultForTesting(const QString &reason);

} // namespace hostally
