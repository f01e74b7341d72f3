#include "session.h"

#include "file_io.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>

#include <algorithm>
#include <set>
#include <utility>

namespace hostally {

namespace {

std::string newRecoveryId()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16)
        .rightJustified(16, QLatin1Char('0'))
        .toStdString();
}

// The ids of the recovery files this computer's saves hold, as the disk
// shows them: those of a finished save, and those of one nothing decides.
void savedIds(const std::vector<Log> &logs, const Log &own, const QString &dataPath,
    std::set<std::string> &done, std::set<std::string> &undecided)
{
    QByteArray bytes;
    const std::uint64_t view
        = readFile(dataFileTarget(dataPath), bytes).ok ? versionHash(bytes.toStdString()) : 0;
    for (const Entry &entry : own.entries) {
        const Fate fate = fateOf(logs, own.computer, entry, view);
        if (fate != Fate::NotDone)
            (fate == Fate::Done ? done : undecided)
                .insert(entry.consumed.begin(), entry.consumed.end());
    }
}

} // namespace

Session::Session(QString dataPath, Computer computer)
    : m_dataPath(std::move(dataPath)),
      m_computer(std::move(computer)),
      m_recoveryId(newRecoveryId()),
      m_recovery(std::make_unique<RecoveryFile>(m_dataPath, m_computer.id))
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

std::string Session::recoveryBytes() const
{
    Recovery recovery;
    recovery.batch = batch();
    // Restored counts undone in the window still stand for the files they
    // came from, should one of those not have gone.
    if (recovery.batch.empty() && m_consumes.empty())
        return {};
    recovery.id = m_recoveryId;
    recovery.writtenMs = QDateTime::currentMSecsSinceEpoch();
    recovery.consumes = m_consumes;
    return formatRecovery(recovery);
}

SaveResult Session::save(const Answers &answers)
{
    std::vector<std::string> consumed = m_consumes;
    // The window's own file, once it has one, goes with the save.
    if (!recoveryPath().isEmpty())
        consumed.push_back(m_recoveryId);
    return save({m_base, m_tallies, batch(), std::move(consumed), answers});
}

SaveResult Session::start(const Answers &answers)
{
    // Most starts find nothing to merge: no lock is taken for nothing then.
    const QString target = dataFileTarget(m_dataPath);
    const std::vector<Log> logs = readLogs(target);
    const std::uint64_t view = versionHash(m_base.toStdString());
    if (findConflictCopies(target, logs).isEmpty()
        && mayBeDropped(logs, view, readVersion(logs, view, m_computer.id).held).empty())
        return {};
    SaveRequest request {m_base, m_tallies, {}, {}, answers};
    request.onlyCopies = true;
    return save(request);
}

SaveResult Session::save(SaveRequest request)
{
    SaveHooks hooks;
    hooks.beforeWaiting = [this] { keepUnsavedNow(); };
    SaveResult result = saveTallies(m_dataPath, m_computer, request, hooks);
    if (!result.saved)
        return result;
    m_base = result.saved->bytes;
    m_baseTables = m_tallies = result.saved->tallies;
    m_resets = {};
    // The counts are in data.txt, and the save's entry holds the files they
    // were kept in: the window's goes, and a new id stands for its next counts.
    if (!request.onlyCopies) {
        m_consumes.clear();
        m_recoveryId = newRecoveryId();
        m_recovery->writeNow({});
        dropRestored();
    }
    return result;
}

void Session::keepUnsavedSoon()
{
    m_recovery->post(recoveryBytes());
}

Status Session::keepUnsavedNow()
{
    const Status kept = m_recovery->writeNow(recoveryBytes());
    if (kept.ok)
        dropRestored();
    return kept;
}

void Session::dropRestored()
{
    // The window's own file, or a finished save, holds their ids now.
    m_restored.erase(std::remove_if(m_restored.begin(), m_restored.end(),
                         [](const Offer &offer) { return removeDurably(offer.path).ok; }),
        m_restored.end());
}

void Session::setRecoveryListener(std::function<void(const Status &written)> listener)
{
    m_recovery->setListener(std::move(listener));
}

Status Session::drop(const QString &path, std::vector<std::string> ids)
{
    const Status removed = removeDurably(path);
    if (removed.ok || !QFileInfo::exists(path))
        return Status::success();
    // Still there, it is offered no more once its id is noted.
    return noteDeclined(m_dataPath, m_computer, ids).ok ? Status::success() : removed;
}

Status Session::decline()
{
    std::vector<std::string> ids = m_consumes;
    ids.push_back(m_recoveryId);
    const Status removed = m_recovery->writeNow({});
    dropRestored();
    if ((removed.ok || recoveryPath().isEmpty()) && m_restored.empty())
        return Status::success();
    // Still there, they are offered no more once their ids are noted.
    const Status noted = noteDeclined(m_dataPath, m_computer, ids);
    return noted.ok  ? noted
        : removed.ok ? fileFailure(m_restored[0].path, QStringLiteral("cannot delete the file"))
                     : removed;
}

std::vector<Offer> Session::leftOffers()
{
    std::vector<Log> logs;
    const Log own = settleLastSave(m_dataPath, m_computer, logs);
    std::set<std::string> done, undecided, held(own.declined.begin(), own.declined.end());
    savedIds(logs, own, m_dataPath, done, undecided);
    // Files other windows hold are read too: a window that restored a file
    // holds its counts, though it may not have deleted it yet.
    std::vector<Offer> found = findLeftRecoveries(m_dataPath, m_computer.id, true);
    for (const Offer &offer : found) {
        held.insert(offer.recovery.consumes.begin(), offer.recovery.consumes.end());
        for (const auto &[name, writtenMs] : offer.recovery.includes)
            held.insert("form1-" + std::to_string(writtenMs) + " " + name);
    }
    std::vector<Offer> offers;
    for (Offer &offer : found) {
        Recovery &recovery = offer.recovery;
        const std::string name = QFileInfo(offer.path).fileName().toStdString();
        // Another computer's file of the older form, brought by a sync
        // program: that computer offers it.
        if (!offer.lock || (!recovery.computer.empty() && recovery.computer != m_computer.name))
            continue;
        if (offer.read.ok
            && (done.count(recovery.id) || held.count(recovery.id)
                || held.count(recovery.id + " " + name) || changeCount(recovery.batch) == 0)) {
            drop(offer.path, {recovery.id});
            continue;
        }
        offer.maybeSaved = undecided.count(recovery.id) > 0;
        // The older form named the new data file a save was about to swap in:
        // still there, that save never happened (a save's tidying deletes it).
        if (!recovery.saving.empty())
            offer.maybeSaved
                = !QFileInfo::exists(QFileInfo(dataFileTarget(m_dataPath)).absolutePath()
                    + QLatin1Char('/') + QString::fromStdString(recovery.saving));
        offers.push_back(std::move(offer));
    }
    return offers;
}

Applied Session::preview(const Offer &offer) const
{
    return apply(offer.recovery.batch, m_tallies, RefusedReset::ListKept);
}

Applied Session::answer(Offer &offer, OfferAnswer answer, Status *problem)
{
    Applied restored {m_tallies, {}, {}};
    Status status;
    if (offer.read.ok && answer == OfferAnswer::Decline) {
        std::vector<std::string> ids = offer.recovery.consumes;
        ids.push_back(offer.recovery.id);
        status = drop(offer.path, ids);
    } else if (offer.read.ok && answer == OfferAnswer::Restore) {
        restored = preview(offer);
        if (!(restored.tallies == m_tallies) || restored.resets.any()) {
            m_tallies = restored.tallies;
            m_resets.leagues = m_resets.leagues || restored.resets.leagues;
            m_resets.events = m_resets.events || restored.resets.events;
            m_changed = true;
        }
        // The window's own file holds them, and says so, before theirs goes:
        // a crash between the two never offers them twice.
        m_consumes.push_back(offer.recovery.id);
        m_consumes.insert(
            m_consumes.end(), offer.recovery.consumes.begin(), offer.recovery.consumes.end());
        // Locked until it goes: no other window offers what this one holds.
        Offer kept;
        kept.path = offer.path;
        kept.lock = offer.lock;
        m_restored.push_back(kept);
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
