#pragma once

#include "data_format.h"

#include <QString>

namespace hostally {

// Where the data file lives: the program's folder with "/data.txt" appended.
// Needs a QCoreApplication.
QString dataFilePath();

// Reads the data file at `path` into both tables. On failure the tables are
// untouched, nothing on disk changes, and the status names the file.
Status loadDataFile(const QString &path, TallyTable &leagues, TallyTable &events);

// Replaces the data file at `path` with both tables. The old file is swapped
// for the new one only once every byte is on disk; on failure it is left as it
// was, no temporary file remains, and the status names the file and reason.
Status saveDataFile(const QString &path, const TallyTable &leagues, const TallyTable &events);

} // namespace hostally
