#pragma once

#include "merge.h"
#include "recovery.h"
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
// with the recovery file that keeps what the window holds that data.txt
// lacks. Every decision about reading, saving and recovering the counts is
// made here; the window only shows them and asks the user.
//
// What it keeps true: every count made reaches data.txt once when it is
// saved, or stays in this window's recovery file, offered at the next start
// until the user declines it. A recovery file is one window's alone, and
// never outlives the save that included its counts in a form that would add
// them again.
class Session {
public:
    // The document of the data file at `dataPath`; empty until load(), and
    // with no recovery file until a change is kept. Its saves are recorded as
    // `computer`'s.
    explicit Session(QString dataPath, QString computer = computerName());
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
    // `answeredYes` after Yes to a former call's question. Once saved, the
    // tables are what was written; the changed flag is the caller's to clear.
    SaveResult save(bool answeredYes = false);
    // Merges the sync program's conflict copies of data.txt into it, as a
    // save does first, writing data.txt only when one is merged; those some
    // of whose counts cannot be placed only with `takeRefused`.
    SaveResult mergeCopies(bool takeRefused);

    // Whether the window holds counts that data.txt lacks.
    bool hasUnsavedCounts() const { return snapshot().changes != 0; }
    // The window's recovery file, once written; else empty.
    QString recoveryPath() const;
    // Has the recovery file brought up to date on its own thread.
    void keepUnsavedSoon();
    // Brings the recovery file up to date now, waiting for the disk.
    Status keepUnsavedNow();
    // `listener` hears how each recovery write went, on the thread that made it.
    void setRecoveryListener(std::function<void(const Status &written)> listener);
    // The user chose not to keep the unsaved counts: the recovery file goes,
    // or is emptied. Fails when neither could be done.
    Status decline();

    // The recovery files left by windows gone, with what they hold; those whose
    // counts are in data.txt or in another file, or that hold none, are deleted.
    std::vector<Offer> leftOffers();
    // What restoring `offer` would do to the window now.
    RestoreResult preview(const Offer &offer) const
    {
        return restoreRecovery(offer.recovery, m_tallies);
    }
    // Does as the user answered `offer`. Restore puts its counts into the
    // window through the merge a save uses, against the window's tables now,
    // and returns what was and was not placed; nothing placed changes nothing.
    // The file is deleted once its counts are in this window's own.
    RestoreResult answer(Offer &offer, OfferAnswer answer, Status *problem = nullptr);

    // For tests: leaves the recovery file and its lock as a kill would; no more writes.
    void abandonForTesting();

private:
    // The recovery file's bytes for the window now; empty when it holds no
    // change. `saving` names the new data file a save is about to swap in.
    std::string recoveryBytes(const QString &saving = {}) const;
    SaveResult save(const SaveRequest &request);
    Recovery snapshot() const;
    // Deletes the restored files that the window's own file now stands for.
    void dropIncluded();

    QString m_dataPath;
    QString m_computer;
    QByteArray m_base;
    Tallies m_baseTables; // m_base as it reads
    Tallies m_tallies;
    Resets m_resets;
    bool m_changed = false;
    std::unique_ptr<RecoveryFile> m_recovery;
    // Files restored into a window that had a recovery file of its own: held,
    // and named in that file, until they are gone.
    std::vector<Offer> m_included;
};

} // namespace hostally
