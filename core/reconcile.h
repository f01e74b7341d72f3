#pragma once

#include "batch.h"
#include "log.h"

#include <QString>
#include <QStringList>

#include <vector>

// The files a sync program carries between computers: each computer's log,
// and the conflict copies it makes of data.txt when two computers saved
// before it could copy one's file to the other.

namespace hostally {

// A computer as the files beside data.txt know it: an id that two computers
// never share, even with one host name, and its host name for the words
// users read.
struct Computer {
    std::string id; // 8 lowercase hex digits
    std::string name;
};

// This computer: the id from the system's machine id (/etc/machine-id,
// Windows' MachineGuid), or, where it has none, from its host name.
Computer thisComputer();

// The log of `computer` beside the data file `target`: "data.txt.log-<id>".
QString logPath(const QString &target, const std::string &computer);

// Every computer's log beside the data file `target`; one that cannot be
// read counts as none, but for the kept numbers of `me`'s own.
std::vector<Log> readLogs(const QString &target);

// The conflict copies that Syncthing, Dropbox, OneDrive and Nextcloud make of
// the data file `target`, in the order of their names. A OneDrive copy
// ("data-<computer>.txt") is one only for a computer that keeps a log here.
QStringList findConflictCopies(const QString &target, const std::vector<Log> &logs);

// What became of one conflict copy.
struct CopyReport {
    enum class Kind {
        Merged, // what it held that data.txt lacked is in data.txt now, and it goes
        Refused, // some of its counts cannot be placed: nothing merged yet
        Left, // the logs cannot tell what it holds that data.txt lacks
        Unreadable, // it does not read as a data file
    };

    QString path;
    Kind kind = Kind::Left;
    // Merged, Refused: the lines it adds, from data.txt's count to the sum;
    // Left: the lines it counts differently, from data.txt's count to its own.
    std::vector<BatchLine> counted;
    std::vector<Refusal> refused; // Merged, Refused: what cannot be placed
    QStringList computers; // Merged, Refused: whose counts it adds, by host name
    Status problem; // Unreadable: why
};

// The view with the copies merged into it.
struct Reconciled {
    Tallies tallies;
    Held held; // the batches it holds
    std::vector<CopyReport> copies; // in the order of `paths`
    bool merged = false; // some copy added a count
};

// Merges the conflict copies at `paths` into `view`, data.txt's tables, which
// holds `held`: each adds the batches its version holds that the view does
// not, replayed in id order from `logs` through the merge a save uses. A copy
// whose batches are all held goes as Merged, adding nothing; one no log
// places, or of another root, is Left. One with counts that cannot be placed
// is merged but for those only with `takeRefused`. `held.root` empty: no log
// knows the view, and every copy not equal to it is Left.
Reconciled mergeCopies(const std::vector<Log> &logs, const std::string &me, const Tallies &view,
    const Held &held, const QStringList &paths, bool takeRefused);

// Replays the batches `ids` from `logs` onto `tallies` in id order, the
// refusals into `refused`; false, with `tallies` untouched, when one is no
// longer in the logs.
bool replay(const std::vector<Log> &logs, const std::vector<BatchId> &ids, Tallies &tallies,
    std::vector<Refusal> &refused);

} // namespace hostally
