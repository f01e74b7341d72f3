// The window's recovery file: unsaved counts kept beside data.txt, and
// offered back at the next start when the program ended without a save.
#include "main_form.h"

#include "data_file.h"
#include "dialogs.h"
#include "windows1252.h"

#include <QDateTime>
#include <QLocale>

namespace {

// More lines than a question can show; the rest are counted.
constexpr int kLinesShown = 10;

} // namespace

QString MainForm::recoveryPath() const
{
    return m_recovery ? m_recovery->path() : QString();
}

void MainForm::noteChange()
{
    ++m_changes;
    // The user is still there: a session end that was called off no longer
    // speaks for them.
    m_sessionEnding = false;
    if (m_recovery && !m_recoveryTimer.isActive())
        m_recoveryTimer.start();
}

std::string MainForm::recoveryBytes() const
{
    hostally::Recovery recovery;
    recovery.writtenMs = QDateTime::currentMSecsSinceEpoch();
    recovery.changes = m_changes;
    recovery.base = m_fileBytes.toStdString();
    recovery.window.leagues = m_leagues.table;
    recovery.window.events = m_events.table;
    recovery.resets = m_resets;
    // Counts stepped back to what data.txt holds leave nothing to recover.
    if (hostally::changedLines(recovery).empty())
        return {};
    return hostally::formatRecovery(recovery);
}

void MainForm::writeRecoveryLater()
{
    if (m_recovery)
        m_recovery->post(recoveryBytes());
}

void MainForm::keepUnsavedCountsNow()
{
    m_recoveryTimer.stop();
    if (!m_recovery)
        return;
    const std::string bytes = recoveryBytes();
    if (bytes.empty())
        m_recovery->remove();
    else
        m_recovery->writeNow(bytes);
}

void MainForm::endSession()
{
    keepUnsavedCountsNow();
    m_sessionEnding = true;
}

void MainForm::discardRecovery()
{
    m_recoveryTimer.stop();
    m_changes = 0;
    if (m_recovery)
        m_recovery->remove();
}

void MainForm::offerUnsavedCounts()
{
    for (const hostally::LeftRecovery &left :
        hostally::findLeftRecoveries(m_dataPath, m_recovery.get()))
        offerRecovery(left);
}

// The question names what the file holds; Yes puts it in the window through
// the merge a save makes, against data.txt as it was just read, and leaves
// it unsaved, so that data.txt changes only when the user saves.
void MainForm::offerRecovery(const hostally::LeftRecovery &left)
{
    hostally::Recovery recovery;
    const hostally::Status read = hostally::readRecoveryFile(left.path, recovery);
    if (!read.ok) {
        // Kept: it may be read by a later Hostally, or by the user.
        reportFailure(m_dialogs, this, read,
            QStringLiteral("Hostally found counts that were not saved, but cannot read "
                           "them.\n\n%1\n\nThe file is kept as it is."));
        return;
    }
    // Escape decides nothing: the counts stay in their file for the next start.
    const Dialogs::Answer answer = m_dialogs->ask(this, restoreQuestion(recovery),
        QStringLiteral("Unsaved counts"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
    if (answer == Dialogs::Answer::Back)
        return;
    if (answer == Dialogs::Answer::No) {
        hostally::removeRecoveryFile(left.path);
        return;
    }
    // What the file held is now the window's: its slot becomes the window's
    // own, unless the window already has one.
    if (m_recovery)
        m_recovery->adopt(left);
    hostally::Tallies file;
    file.leagues = m_leagues.table;
    file.events = m_events.table;
    const hostally::RestoreResult restored = hostally::restoreRecovery(recovery, file);
    showRestored(restored);
    m_changed = true;
    m_changes += recovery.changes;
    // The restored lists hold what was counted since their Reset, as the
    // window's own reset lists do.
    m_resets.leagues = m_resets.leagues || recovery.resets.leagues;
    m_resets.events = m_resets.events || recovery.resets.events;
    // The counts are in this window's own recovery file before the one they
    // came from goes.
    keepUnsavedCountsNow();
    if (m_recovery && left.path != m_recovery->path())
        hostally::removeRecoveryFile(left.path);
    if (restored.refused.empty())
        return;
    QStringList lines;
    for (std::size_t i = 0; i < restored.refused.size(); ++i) {
        const QString why = refusalWhy(restored.why[i]);
        lines.append(QStringLiteral("  %1 (%2)").arg(recoveredLineText(restored.refused[i]), why));
    }
    m_dialogs->inform(this,
        QStringLiteral("These unsaved counts could not be restored, as data.txt has "
                       "changed since:\n\n%1")
            .arg(lines.join(QLatin1Char('\n'))),
        QStringLiteral("Unsaved counts"));
}

void MainForm::showRestored(const hostally::RestoreResult &restored)
{
    m_leagues.table = restored.restored.leagues;
    m_events.table = restored.restored.events;
    for (Column *column : {&m_leagues, &m_events}) {
        fillList(*column);
        showTotal(*column);
    }
}

QString MainForm::restoreQuestion(const hostally::Recovery &recovery)
{
    const std::vector<hostally::RecoveredLine> changed = hostally::changedLines(recovery);
    QStringList lines;
    for (const hostally::RecoveredLine &line : changed) {
        if (lines.size() == kLinesShown) {
            lines.append(QStringLiteral("  and %1 more").arg(changed.size() - kLinesShown));
            break;
        }
        lines.append(QStringLiteral("  ") + recoveredLineText(line));
    }
    const QDateTime written = QDateTime::fromMSecsSinceEpoch(recovery.writtenMs);
    const QLocale locale;
    const QString when = QStringLiteral("%1 at %2")
                             .arg(locale.toString(written.date(), QLocale::LongFormat),
                                 locale.toString(written.time(), QLocale::ShortFormat));
    const QString changes = recovery.changes == 1
        ? QStringLiteral("1 change made in Hostally up to %1 was")
        : QStringLiteral("%1 changes made in Hostally up to %2 were").arg(recovery.changes);
    return QStringLiteral("%1 not saved:\n\n"
                          "%2\n\n"
                          "Restore them? Yes adds them to the counts in the window; choose "
                          "File > Save to keep them in data.txt. No deletes them.")
        .arg(changes.arg(when), lines.join(QLatin1Char('\n')));
}

QString MainForm::refusalWhy(hostally::MergeRefusal::Kind kind)
{
    switch (kind) {
    case hostally::MergeRefusal::Kind::NotInFile:
        return QStringLiteral("no longer in data.txt");
    case hostally::MergeRefusal::Kind::RepeatedName:
        return QStringLiteral("its name is in data.txt a different number of times now");
    case hostally::MergeRefusal::Kind::OutOfRange:
        return QStringLiteral("the count would pass the largest data.txt can hold");
    case hostally::MergeRefusal::Kind::ResetChanged:
        break;
    }
    return QStringLiteral("the list was changed in data.txt since");
}

QString MainForm::recoveredLineText(const hostally::RecoveredLine &line)
{
    // A refused Reset is the whole list's.
    if (line.name.empty())
        return QStringLiteral("The Reset of the %1")
            .arg(line.league ? QStringLiteral("leagues") : QStringLiteral("events"));
    return QStringLiteral("%1 \u201C%2\u201D: %3 to %4")
        .arg(line.league ? QStringLiteral("League") : QStringLiteral("Event"),
            fromNameBytes(line.name))
        .arg(line.before)
        .arg(line.after);
}
