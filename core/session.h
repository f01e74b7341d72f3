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
// base), the window's tables, the lists reset since and the changed flag,
// with the recovery file that keeps its batch. Every decision about reading,
// saving and recovering is made here; the window only shows and asks.
// Every count made reaches data.txt once, or stays in a recovery file of this
// computer, offered until a finished save holds it or the user declines it.
class Session {
public:
    // The document of the data file at `dataPath`, as `computer`'s; empty until load().
    explicit Session(QString dataPath, Computer computer = thisComputer());
    ~Session(); // waits for the recovery file's writes; the file stays
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
    // Set by every list command, cleared by Save; the recovery file does not follow it.
    bool isChanged() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }

    // Add (or Remove) on line `line` of the leagues (or events); returns whether its count changed.
    bool step(bool league, int line, bool add);
    // Sets every count of the leagues (or events) to 0.
    void reset(bool league);

    // Saves into data.txt as it is now (see saveTallies) with the `answers`
    // so far; once saved, the tables are what was written and the recovery file goes.
    SaveResult save(const Answers &answers = {});
    // Start-up: merges the conflict copies and the counts that may be
    // missing into data.txt, writing it only where they add some.
    SaveResult start(const Answers &answers = {});

    // Whether the window holds counts that data.txt lacks.
    bool hasUnsavedCounts() const { return !batch().empty(); }
    // The window's recovery file, once written; else empty.
    QString recoveryPath() const { return m_recovery->path(); }
    // Brings the recovery file up to date on its own thread.
    void keepUnsavedSoon();
    // Brings the recovery file up to date now, waiting for the disk.
    Status keepUnsavedNow();
    // `listener` hears how each recovery write went, on the thread that made it.
    void setRecoveryListener(std::function<void(const Status &written)> listener);
    // The user keeps no unsaved counts: the recovery file goes, or its id is
    // noted as declined; fails when neither could be done.
    Status decline();

    // The recovery files this computer's windows left, deleting those a
    // finished save holds, that were declined, that another holds or that hold nothing.
    std::vector<Offer> leftOffers();
    // What restoring `offer` would do to the window now.
    Applied preview(const Offer &offer) const;
    // Does as the user answered `offer`. Restore merges its counts into the
    // window as a save would, and deletes its file once the window's own
    // holds them; `problem` says what failed on the way.
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
    std::vector<Offer> m_restored; // their files and locks, until they are gone
    std::unique_ptr<RecoveryFile> m_recovery;
};

} // namespace hostally
