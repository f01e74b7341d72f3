#pragma once

#include "file_io.h"
#include "log.h"

#include <QStringList>

#include <vector>

// The files a sync program carries between computers: each computer's log,
// and the conflict copies it makes of data.txt when two computers saved
// before it could bring one's file to the other.

namespace hostally {

// The log of `computer` beside the data file `target`: "data.txt.log-<id>".
QString logPath(const QString &target, const std::string &computer);

// Every computer's log beside the data file `target`; one that cannot be read counts as none.
std::vector<Log> readLogs(const QString &target);

// The conflict copies of `target` that Syncthing, Dropbox, Nextcloud and
// OneDrive ("data-<host>.txt", for a host with a log here) make, by name.
QStringList findConflictCopies(const QString &target, const std::vector<Log> &logs);

// What became of one conflict copy.
struct CopyReport {
    enum class Kind {
        Merged, // what it held that data.txt lacked is in data.txt now, and it goes
        Refused, // some of its counts cannot be placed: nothing merged yet
        Left, // the logs cannot tell what it holds that data.txt lacks
        Unreadable, // it does not read as a data file: `problem` says why
    };
    QString path;
    Kind kind = Kind::Left;
    // From data.txt's count to the merged one; Left: to the copy's own.
    std::vector<BatchLine> counted;
    std::vector<Refusal> refused; // Merged, Refused: what cannot be placed
    QStringList computers; // Merged, Refused: whose counts it adds, by host name
    Status problem;
};

// The view with the copies merged into it, and the batches it holds then.
struct Reconciled {
    Tallies tallies;
    Held held;
    std::vector<CopyReport> copies; // in the order of the paths
};

// Merges the copies at `paths` into `view`, data.txt's tables holding `held`:
// each adds held(copy) - held(view), replayed in id order. A copy no log
// places, or of another root, is Left; one with counts that cannot be placed
// is merged only with `takeRefused`.
Reconciled mergeCopies(const std::vector<Log> &logs, const std::string &me, const Tallies &view,
    const Held &held, const QStringList &paths, bool takeRefused);

// The host names of the computers whose batches `ids` holds, each once.
QStringList hostsOf(const std::vector<Log> &logs, const std::vector<BatchId> &ids);

// Replays the batches `ids` from `logs` onto `tallies`, the refusals into
// `refused`; false, with `tallies` untouched, when one is kept no more.
bool replay(const std::vector<Log> &logs, const std::vector<BatchId> &ids, Tallies &tallies,
    std::vector<Refusal> &refused);

} // namespace hostally
