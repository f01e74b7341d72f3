#include "session.h"

#include "conflict_copies.h"
#include "data_file.h"
#include "durable_file.h"
#include "recovery_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <set>
#include <utility>

namespace hostally {

namespace {

// Whether a save of the offer's counts had swapped its new data file in
// when the recovery file was last written. The save names that file just
// before the swap; the rename takes the name away, and a failed swap has the
// recovery file written again before it deletes the file. A file still there
// is a save that never happened: the recovery file forgets it, then it goes.
bool savedSince(Offer &offer, const QString &dataPath, const QString &computer)
{
    Recovery &recovery = offer.recovery;
    if (recovery.saving.empty())
        return false;
    const QString name = QString::fromStdString(recovery.saving);
    // Only a name a save gives: never a path that reaches another file.
    const QString target = dataFileTarget(dataPath);
    if (!name.startsWith(QFileInfo(target).fileName() + QStringLiteral(".new-"))
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    const QString leftOver = QFileInfo(target).absolutePath() + QLatin1Char('/') + name;
    if (!QFileInfo::exists(leftOver))
        return true;
    recovery.saving.clear();
    Replaced replaced = Replaced::No;
    // The record of saves forgets it first: once its new file is gone, it
    // would pass for a save that happened. Under the saves' lock, so that
    // no save's record is written over meanwhile.
    quietLockFileWarnings();
    QLockFile lock(target + QStringLiteral(".lock"));
    if (writeDurably(offer.path, QByteArray::fromStdString(formatRecovery(recovery)), replaced).ok
        && lock.tryLock(0) && settleRecord(dataPath, computer).ok)
        QFile::remove(leftOver);
    return false;
}

// Deletes the recovery file at `path`, or, where it cannot be deleted (a
// folder made read-only, a file another program holds), empties it: an empty
// file holds nothing to offer.
Status drop(const QString &path)
{
    const Status removed = removeDurably(path);
    if (removed.ok || !QFileInfo::exists(path) || QFile::resize(path, 0))
        return Status::success();
    return removed;
}

} // namespace

Session::Session(QString dataPath, QString computer)
    : m_dataPath(std::move(dataPath)),
      m_computer(std::move(computer)),
      m_recovery(std::make_unique<RecoveryFile>(m_dataPath))
{
}

Session::~Session() = default;

Status Session::load()
{
    Tallies read;
    QByteArray bytes;
    const Status status = loadDataFile(m_dataPath, read.leagues, read.events, &bytes);
    if (!status.ok)
        return status;
    m_baseTables = read;
    m_tallies = std::move(read);
    m_base = std::move(bytes);
    return status;
}

bool Session::step(bool league, int line, bool add)
{
    m_changed = true;
    TallyTable &table = league ? m_tallies.leagues : m_tallies.events;
    return add ? table.add(line) : table.remove(line);
}

void Session::reset(bool league)
{
    m_changed = true;
    (league ? m_tallies.leagues : m_tallies.events).reset();
    (league ? m_resets.leagues : m_resets.events) = true;
}

Recovery Session::snapshot() const
{
    Recovery recovery;
    recovery.writtenMs = QDateTime::currentMSecsSinceEpoch();
    recovery.computer = m_computer.toStdString();
    recovery.base = m_base.toStdString();
    recovery.baseTables = m_baseTables;
    recovery.window = m_tallies;
    recovery.resets = m_resets;
    recovery.changes = static_cast<int>(changedLines(recovery).size()) + int(m_resets.leagues)
        + int(m_resets.events);
    for (const Offer &included : m_included)
        recovery.includes.emplace_back(
            QFileInfo(included.path).fileName().toStdString(), included.recovery.writtenMs);
    return recovery;
}

std::string Session::recoveryBytes(const QString &saving) const
{
    Recovery recovery = snapshot();
    // Counts stepped back to what data.txt holds leave nothing to recover,
    // unless restored files still there must be known as included.
    if (recovery.changes == 0 && m_included.empty())
        return {};
    recovery.saving = saving.toStdString();
    return formatRecovery(recovery);
}

void Session::dropIncluded()
{
    m_included.erase(std::remove_if(m_included.begin(), m_included.end(),
                         [](const Offer &included) { return drop(included.path).ok; }),
        m_included.end());
}

SaveResult Session::save(bool answeredYes)
{
    return save({m_base, m_tallies, m_resets, answeredYes});
}

SaveResult Session::mergeCopies(bool takeRefused)
{
    // Most starts find none: no lock is taken for nothing then.
    if (!countsToMerge(m_dataPath, m_computer))
        return {};
    return save({m_base, m_tallies, m_resets, false, takeRefused, true});
}

SaveResult Session::save(const SaveRequest &request)
{
    SaveHooks hooks;
    hooks.computer = m_computer;
    hooks.beforeWaiting = [this] { keepUnsavedNow(); };
    // While the new data.txt is swapped in, the recovery file names it: after
    // a crash then, the next start tells whether its counts reached data.txt.
    // A file that cannot say so goes before the swap, the counts staying in
    // the window meanwhile; one that can be neither rewritten nor deleted,
    // or that stands for restored files still there, stops the save.
    hooks.beforeSwap = [this](const QString &newName) {
        Status named = m_recovery->writeNow(recoveryBytes(newName), false);
        if (named.ok)
            dropIncluded();
        else if (m_included.empty())
            named = m_recovery->writeNow({});
        return named;
    };
    hooks.swapFailed = [this] { keepUnsavedNow(); };
    SaveResult result = saveTallies(m_dataPath, request, hooks);
    if (!result.saved)
        return result;
    m_base = result.saved->bytes;
    m_baseTables = m_tallies = result.saved->tallies;
    m_resets = {};
    // The counts are in data.txt. A recovery file that cannot be deleted
    // names the new file the save swapped in, which is gone now: the next
    // start knows them saved. One that names restored files still there
    // stays, so that they are known saved too.
    if (m_included.empty())
        m_recovery->writeNow({});
    return result;
}

QString Session::recoveryPath() const
{
    return m_recovery->path();
}

void Session::keepUnsavedSoon()
{
    m_recovery->post(recoveryBytes());
}

Status Session::keepUnsavedNow()
{
    const Status kept = m_recovery->writeNow(recoveryBytes());
    if (kept.ok)
        dropIncluded();
    return kept;
}

void Session::setRecoveryListener(std::function<void(const Status &written)> listener)
{
    m_recovery->setListener(std::move(listener));
}

Status Session::decline()
{
    // Restored files go with the counts they brought.
    for (const Offer &included : m_included)
        drop(included.path);
    m_included.clear();
    const QString path = m_recovery->path();
    return m_recovery->writeNow({}).ok || path.isEmpty() ? Status::success() : drop(path);
}

std::vector<Offer> Session::leftOffers()
{
    // Files other windows hold are read too: another Hostally starting now
    // may have locked a file that names one of these.
    std::vector<Offer> found = findLeftRecoveries(m_dataPath, true);
    for (Offer &offer : found)
        offer.read = readRecoveryFile(offer.path, offer.recovery);
    // A window that restored a file into its own, then ended before that
    // file was gone, named it (as it was then) in its own. The file naming
    // it waits until it is gone.
    std::set<QString> included, waiting;
    for (const Offer &offer : found) {
        for (const auto &[name, writtenMs] : offer.recovery.includes) {
            for (const Offer &other : found) {
                if (other.lock && other.read.ok && other.recovery.writtenMs == writtenMs
                    && QFileInfo(other.path).fileName().toStdString() == name
                    && included.insert(other.path).second && !drop(other.path).ok)
                    waiting.insert(offer.path);
            }
        }
    }
    std::vector<Offer> offers;
    for (Offer &offer : found) {
        // Another computer's, brought by a sync program: its window may still
        // hold the counts, and that computer offers them if not.
        if (offer.read.ok && !offer.recovery.computer.empty()
            && offer.recovery.computer != m_computer.toStdString())
            continue;
        if (!offer.lock || included.count(offer.path) || waiting.count(offer.path))
            continue;
        // An empty file was emptied when it could not be deleted.
        const bool empty = QFileInfo(offer.path).size() == 0;
        // Already in data.txt or in another file, or nothing to offer: never
        // asked about.
        if (empty
            || (offer.read.ok
                && (savedSince(offer, m_dataPath, m_computer)
                    || (changedLines(offer.recovery).empty() && !offer.recovery.resets.any()))))
            drop(offer.path);
        else
            offers.push_back(std::move(offer));
    }
    return offers;
}

RestoreResult Session::answer(Offer &offer, OfferAnswer answer, Status *problem)
{
    RestoreResult restored;
    restored.restored = m_tallies;
    Status status;
    if (offer.read.ok && answer == OfferAnswer::Decline) {
        status = drop(offer.path);
    } else if (offer.read.ok && answer == OfferAnswer::Restore) {
        restored = restoreRecovery(offer.recovery, m_tallies);
        if (!(restored.restored == m_tallies) || restored.resets.any()) {
            m_tallies = restored.restored;
            m_resets.leagues = m_resets.leagues || restored.resets.leagues;
            m_resets.events = m_resets.events || restored.resets.events;
            m_changed = true;
        }
        // What the file held is now the window's: its slot becomes the
        // window's own, unless the window has one. A file of its own names
        // the restored one until that is gone, so that a crash between the
        // two writes never leaves the counts in both.
        m_recovery->adopt(offer);
        if (recoveryPath() != offer.path)
            m_included.push_back(offer);
        status = keepUnsavedNow();
    }
    offer.lock.reset();
    if (problem)
        *problem = status;
    return restored;
}

void Session::abandonForTesting()
{
    m_recovery->abandon();
}

} // namespace hostally
