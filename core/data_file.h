#pragma once

#include "data_format.h"
#include "durable_file.h"

#include <QByteArray>
#include <QString>

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

// Replaces the data file at `path`, or the file a link there names, with
// `bytes` through writeDurably(). A path that names no plain file, or a file
// made read-only, is refused with the file as it was.
Status writeDataFile(const QString &path, const QByteArray &bytes, Replaced &replaced,
    const SwapChecks &checks = {});

// Whether the folder of the data file at `path` can be written, found out by
// making and removing a temporary file there. On failure the status names the
// folder and the system's reason.
Status checkFolderWritable(const QString &path);

// Whether the data file at `path`, when it is there, may be written: a file
// made read-only (its permissions, or its Read-only attribute on Windows)
// would refuse every save. On failure the status names the file and why.
Status checkFileWritable(const QString &path);

} // namespace hostally
