#include "session.h"

#include "data_file.h"
#include "durable_file.h"
#include "recovery_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <utility>

namespace hostally {

namespace {

// Whether a save of the recovery's counts had swapped its new data file in
// when the recovery file was last written. The save names that file just
// before the swap; the rename takes the name away, and a failed swap has the
// recovery file written again before it deletes the file. A file still there
// is a save that never happened, and goes.
bool savedSince(const Recovery &recovery, const QString &dataPath)
{
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
    QFile::remove(leftOver);
    return false;
}

bool anyReset(const Resets &resets)
{
    return resets.leagues || resets.events;
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

Session::Session(QString dataPath)
    : m_dataPath(std::move(dataPath)), m_recovery(std::make_unique<RecoveryFile>(m_dataPath))
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
    m_tallies = std::move(read);
    m_base = std::move(bytes);
    return status;
}

const TallyTable &Session::table(bool league) const
{
    return league ? m_tallies.leagues : m_tallies.events;
}

bool Session::step(bool league, int line, bool add)
{
    m_changed = true;
    TallyTable &table = league ? m_tallies.leagues : m_tallies.events;
    if (line < 0 || line >= table.used())
        return false;
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
    recovery.base = m_base.toStdString();
    recovery.window = m_tallies;
    recovery.resets = m_resets;
    recovery.changes = static_cast<int>(changedLines(recovery).size())
        + int(m_resets.leagues) + int(m_resets.events);
    return recovery;
}

std::string Session::recoveryBytes(const QString &saving) const
{
    Recovery recovery = snapshot();
    // Counts stepped back to what data.txt holds leave nothing to recover.
    if (recovery.changes == 0)
        return {};
    recovery.saving = saving.toStdString();
    return formatRecovery(recovery);
}

SaveResult Session::save(bool answeredYes)
{
    const SaveRequest request {m_base, m_tallies, m_resets, answeredYes};
    SaveHooks hooks;
    hooks.beforeWaiting = [this] { keepUnsavedNow(); };
    // While the new data.txt is swapped in, the recovery file names it: after
    // a crash then, the next start tells whether its counts reached data.txt.
    // A file that cannot say so goes before the swap: the counts stay in the
    // window meanwhile.
    hooks.beforeSwap = [this](const QString &newName) {
        if (!m_recovery->writeNow(recoveryBytes(newName), false).ok)
            m_recovery->writeNow({});
    };
    hooks.swapFailed = [this] { keepUnsavedNow(); };
    SaveResult result = saveTallies(m_dataPath, request, hooks);
    if (result.kind != SaveResult::Kind::Saved)
        return result;
    m_base = result.base;
    m_tallies = result.tallies;
    m_resets = {};
    // The counts are in data.txt. A recovery file that cannot be deleted
    // names the new file the save swapped in, which is gone now: the next
    // start knows them saved.
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
    return m_recovery->writeNow(recoveryBytes());
}

void Session::setRecoveryListener(std::function<void(const Status &written)> listener)
{
    m_recovery->setListener(std::move(listener));
}

Status Session::decline()
{
    const QString path = m_recovery->path();
    return m_recovery->writeNow({}).ok || path.isEmpty() ? Status::success() : drop(path);
}

std::vector<Offer> Session::leftOffers()
{
    std::vector<Offer> offers;
    for (Offer &offer : findLeftRecoveries(m_dataPath)) {
        // An empty file was emptied when it could not be deleted.
        const bool empty = QFileInfo(offer.path).size() == 0;
        offer.read = readRecoveryFile(offer.path, offer.recovery);
        offer.lines = changedLines(offer.recovery);
        // Already in data.txt, or nothing to offer: never asked about.
        if (empty
            || (offer.read.ok
                && (savedSince(offer.recovery, m_dataPath)
                    || (offer.lines.empty() && !anyReset(offer.recovery.resets)))))
            drop(offer.path);
        else
            offers.push_back(std::move(offer));
    }
    return offers;
}

RestoreResult Session::preview(const Offer &offer) const
{
    return restoreRecovery(offer.recovery, m_tallies);
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
        if (!(restored.restored == m_tallies) || anyReset(restored.resets)) {
            m_tallies = restored.restored;
            m_resets.leagues = m_resets.leagues || restored.resets.leagues;
            m_resets.events = m_resets.events || restored.resets.events;
            m_changed = true;
        }
        // What the file held is now the window's: its slot becomes the
        // window's own, unless the window has one; a file of its own has the
        // counts before the one they came from goes.
        m_recovery->adopt(offer);
        status = keepUnsavedNow();
        if (status.ok && recoveryPath() != offer.path)
            status = drop(offer.path);
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
