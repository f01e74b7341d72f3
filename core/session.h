#pragma once

#include "batch.h"
#include "reconcile.h"
#include "recovery_file.h"
#include "save.h"
#include "status.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace hostally {

// What the user makes of an offer.
enum class OfferAnswer {
    Restore, // its counts go into the window, unsaved
    Decline, // its counts are deleted, never offered again
    Keep, // nothing is decided: it is offered again at the next start
};

// One window's document: data.txt as the window last read or wrote it (its
// base), the window's tables, the lists reset since, and the changed flag;
// with the recovery file that keeps the window's batch. Every decision about
// reading, saving and recovering the counts is made here; the window only
// shows them and asks the user.
//
// What it keeps true: every count made reaches data.txt once when it is
// saved, or stays in a recovery file of this computer, offered at the next
// start until a finished save holds it or the user declines it.
class Session {
public:
    // The document of the data file at `dataPath`, as `computer`'s; empty
    // until load(), and with no recovery file until a change is kept.
    explicit Session(QString dataPath, Computer computer = thisComputer());
    // Waits for the recovery file's writes; the file stays.
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const QString &dataPath() const { return m_dataPath; }

    // Reads data.txt into both tables; on failure they stay empty.
    Status load();

    const Tallies &tallies() const { return m_tallies; }
    const TallyTable &table(bool league) const
    {
        return league ? m_tallies.leagues : m_tallies.events;
    }
    // The changed flag: set by every list command (one that changes no count
    // too), cleared by the Save command; the recovery file does not follow it.
    bool isChanged() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }

    // Add (or Remove) on line `line` of the leagues (or events); returns
    // whether its count changed. Sets the changed flag either way.
    bool step(bool league, int line, bool add);
    // Sets every count of the leagues (or events) to 0.
    void reset(bool league);

    // Saves the window's counts into data.txt as it is now (see saveTallies),
    // with the user's `answers` to the questions of former calls. Once saved,
    // the tables are what was written and the recovery file goes; the
    // changed flag is the caller's to clear.
    SaveResult save(const Answers &answers = {});
    // Start-up, before any count: merges the sync program's conflict copies
    // into data.txt, and the counts that may be missing from it, writing
    // data.txt only where they add some.
    SaveResult start(const Answers &answers = {});

    // Whether the window holds counts that data.txt lacks.
    bool hasUnsavedCounts() const { return !batch().empty(); }
    // The window's recovery file, once written; else empty.
    QString recoveryPath() const { return m_recovery->path(); }
    // Has the recovery file brought up to date on its own thread.
    void keepUnsavedSoon();
    // Brings the recovery file up to date now, waiting for the disk.
    Status keepUnsavedNow();
    // `listener` hears how each recovery write went, on the thread that made it.
    void setRecoveryListener(std::function<void(const Status &written)> listener);
    // The user chose not to keep the unsaved counts: the recovery file goes,
    // or, where it cannot, its id is noted as declined. Fails when neither
    // could be done.
    Status decline();

    // The recovery files this computer's windows left, with what they hold;
    // those a finished save holds, that the user declined or that another
    // holds are deleted, as are those that hold nothing. Another computer's
    // are never offered here.
    std::vector<Offer> leftOffers();
    // What restoring `offer` would do to the window now.
    Applied preview(const Offer &offer) const;
    // Does as the user answered `offer`. Restore puts its counts into the
    // window through the merge a save uses, against the window's tables now,
    // and returns what was and was not placed; the file is deleted once the
    // window's own holds them. `problem` says what failed on the way.
    Applied answer(Offer &offer, OfferAnswer answer, Status *problem = nullptr);

    // For tests: leaves the recovery file and its lock as a kill would; no more writes.
    void abandonForTesting();

private:
    Batch batch() const { return diff(m_baseTables, m_tallies, m_resets); }
    // The recovery file's bytes for the window now; empty when it holds nothing.
    std::string recoveryBytes() const;
    SaveResult save(SaveRequest request);
    // Deletes the recovery file at `path`, or notes `ids` declined where it cannot be.
    Status drop(const QString &path, std::vector<std::string> ids);
    // Deletes the files restored into the window that are still there.
    void dropRestored();

    QString m_dataPath;
    Computer m_computer;
    QByteArray m_base;
    Tallies m_baseTables; // m_base as it reads
    Tallies m_tallies;
    Resets m_resets;
    bool m_changed = false;
    std::string m_recoveryId; // new after each save
    std::vector<std::string> m_consumes; // the recovery files restored into the window
    QStringList m_restored; // their paths, until they are gone
    std::unique_ptr<RecoveryFile> m_recovery;
};

} // namespace hostally
