#pragma once

#include "save_history.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The files beside data.txt that a sync program makes and Hostally reads:
// each computer's record of its saves, and the conflict copies of data.txt.

namespace hostally {

// This computer's name as the record of its saves carries it: its host name,
// with any character a file name may not hold replaced.
QString computerName();

// The record of `computer`'s saves beside the data file at `dataPath` (beside
// the file a link there names): "data.txt.saved-<computer>".
QString saveRecordPath(const QString &dataPath, const QString &computer);

// Every computer's record of its saves beside the data file at `dataPath`;
// one that cannot be read counts as none. Of `computer`'s, the saves that
// ended before their swap are left out; another's that may have are marked.
std::vector<ComputerSaves> readSaveHistory(const QString &dataPath, const QString &computer);

// Appends `saves` to `computer`'s record beside the data file at `dataPath`,
// through writeDurably(), but for those that changed nothing; a record that
// cannot be read starts again.
Status recordSaves(
    const QString &dataPath, const QString &computer, const std::vector<SaveRecord> &saves);

// Rewrites `computer`'s record, where needed, to tell the other computers
// which of its saves swapped data.txt in, and forget those that never did:
// those whose new file is still beside data.txt, as after a failed swap.
// Not `durable`, it is not synced: fit for telling of a swap, news that a
// crash may lose and the next save here then tells again.
Status settleRecord(const QString &dataPath, const QString &computer, bool durable = true);

// A conflict copy of the data file, and what became of it.
struct CopyReport {
    QString path;
    CopyOutcome outcome;
    // No copy: the counts a sync program dropped from the data file itself.
    bool dropped = false;
};

// The conflict copies that Syncthing, Dropbox, OneDrive and Nextcloud make of
// the data file at `dataPath`, in the order of their names. A OneDrive copy
// ("data-<computer>.txt") is one only for a computer that keeps a record here.
QStringList findConflictCopies(const QString &dataPath, const std::vector<ComputerSaves> &history);

// Whether a start finds counts to merge beside the data file at `dataPath`:
// conflict copies, or counts a sync program dropped (countsDropped()).
bool countsToMerge(const QString &dataPath, const QString &computer);

// Merges the conflict copies beside the data file at `dataPath` into `bytes`,
// the data file as just read, with mergeCopies() and the records `history`:
// `bytes` becomes the file to write, and `save` lists the copies merged.
// Counts a sync program dropped are reported, `dropped`, once merged.
// Nothing is done when `bytes` does not read as a data file.
std::vector<CopyReport> mergeConflictCopies(const QString &dataPath,
    const std::vector<ComputerSaves> &history, QByteArray &bytes, bool takeRefused,
    SaveRecord &save);

} // namespace hostally
