// The window's recovery file: unsaved counts kept beside data.txt, and
// offered back at the next start when the program ended without a save.
#include "main_form.h"

#include "dialogs.h"
#include "windows1252.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>

#include <utility>

namespace {

// More lines than a question can show; the rest are counted.
constexpr int kLinesShown = 10;

// Why a restored change could not be placed, in the user's words.
QString refusalWhy(hostally::MergeRefusal::Kind kind)
{
    switch (kind) {
    case hostally::MergeRefusal::Kind::NotInFile:
        return QStringLiteral("no longer in data.txt");
    case hostally::MergeRefusal::Kind::RepeatedName:
        return QStringLiteral("its name is in data.txt a different number of times now");
    case hostally::MergeRefusal::Kind::OutOfRange:
        return QStringLiteral("the count would pass the largest data.txt can hold");
    default:
        return QStringLiteral("the list was changed in data.txt since");
    }
}

// One line of a recovery file as the question and notice name it; a Reset is
// the whole list's.
QString recoveredLineText(const hostally::RecoveredLine &line)
{
    if (line.name.empty())
        return QStringLiteral("The Reset of the %1")
            .arg(line.league ? QStringLiteral("leagues") : QStringLiteral("events"));
    return QStringLiteral("%1 \u201C%2\u201D: %3 to %4")
        .arg(line.league ? QStringLiteral("League") : QStringLiteral("Event"),
            fromNameBytes(line.name))
        .arg(line.before)
        .arg(line.after);
}

// The question asked about a recovery file: the changes it holds, what
// cannot be placed, as `preview` found, and what each answer does.
QString restoreQuestion(const hostally::Offer &offer, const hostally::RestoreResult &preview)
{
    const hostally::Recovery &recovery = offer.recovery;
    QStringList changed;
    for (bool league : {true, false}) {
        if (league ? recovery.resets.leagues : recovery.resets.events)
            changed.append(QStringLiteral("  ") + recoveredLineText({league, {}, 0, 0}));
    }
    for (const hostally::RecoveredLine &line : hostally::changedLines(offer.recovery))
        changed.append(QStringLiteral("  ") + recoveredLineText(line));
    QStringList lines = changed.mid(0, kLinesShown);
    if (changed.size() > kLinesShown)
        lines.append(QStringLiteral("  and %1 more").arg(changed.size() - kLinesShown));
    const QDateTime written = QDateTime::fromMSecsSinceEpoch(recovery.writtenMs);
    const QLocale locale;
    const QString when = QStringLiteral("%1 at %2")
                             .arg(locale.toString(written.date(), QLocale::LongFormat),
                                 locale.toString(written.time(), QLocale::ShortFormat));
    const QString changes = changed.size() == 1
        ? QStringLiteral("1 change made in Hostally up to %1 was")
        : QStringLiteral("%1 changes made in Hostally up to %2 were").arg(changed.size());
    QString cannot;
    if (!preview.refused.empty()) {
        QStringList refused;
        for (std::size_t i = 0; i < preview.refused.size(); ++i)
            refused.append(
                QStringLiteral("  %1 (%2)")
                    .arg(recoveredLineText(preview.refused[i]), refusalWhy(preview.why[i])));
        cannot = QStringLiteral("These cannot be restored, as data.txt has changed since:\n\n")
            + refused.join(QLatin1Char('\n')) + QStringLiteral("\n\n");
    }
    return QStringLiteral("%1 not saved:\n\n"
                          "%2\n\n%3"
                          "Restore them? Yes adds them to the counts in the window; choose "
                          "File > Save to keep them in data.txt. No deletes them. Escape "
                          "keeps them for the next start.")
        .arg(changes.arg(when), lines.join(QLatin1Char('\n')), cannot);
}

} // namespace

void MainForm::noteChange()
{
    // The user is still there: a session end that was called off no longer
    // speaks for them.
    m_sessionEnding = false;
    if (!m_recoveryTimer.isActive())
        m_recoveryTimer.start();
}

void MainForm::recoveryWritten(const hostally::Status &written)
{
    // A file that could not be deleted after a save holds nothing to lose.
    if (written.ok || !m_session.hasUnsavedCounts()) {
        m_recoveryFailureSaid = false;
        return;
    }
    // Tried again every second until it works; said once, not at every click.
    if (!m_recoveryTimer.isActive())
        m_recoveryTimer.start();
    if (std::exchange(m_recoveryFailureSaid, true))
        return;
    reportFailure(m_dialogs, this, written,
        QStringLiteral("Hostally cannot keep a copy of your unsaved counts beside data.txt "
                       "at the moment, so they would be lost if Hostally were ended now.\n\n"
                       "%1\n\nChoose File > Save now. If that fails too, free some space on "
                       "the disk, or put the folder back where it was; Hostally keeps trying "
                       "meanwhile."));
}

void MainForm::keepUnsavedCountsNow()
{
    m_recoveryTimer.stop();
    m_session.keepUnsavedNow();
}

void MainForm::endSession()
{
    keepUnsavedCountsNow();
    m_sessionEnding = true;
    // A logout called off leaves no sign on X11 but the user coming back.
    qApp->installEventFilter(this);
}

void MainForm::sessionEndCalledOff()
{
    m_sessionEnding = false;
    qApp->removeEventFilter(this);
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress)
        sessionEndCalledOff();
    return QMainWindow::eventFilter(watched, event);
}

// The question for each file names what it holds and what cannot be placed;
// Yes puts it in the window through the merge a save makes, against data.txt
// as it was just read, and leaves it unsaved, so that data.txt changes only
// when the user saves.
void MainForm::offerUnsavedCounts()
{
    for (hostally::Offer &offer : m_session.leftOffers()) {
        if (!offer.read.ok) {
            // Kept: it may be read by a later Hostally, or by the user.
            m_session.answer(offer, hostally::OfferAnswer::Keep);
            reportFailure(m_dialogs, this, offer.read,
                QStringLiteral("Hostally found counts that were not saved, but cannot read "
                               "them.\n\n%1\n\nThe file is kept as it is."));
            continue;
        }
        const Dialogs::Answer answer
            = m_dialogs->ask(this, restoreQuestion(offer, m_session.preview(offer)),
                QStringLiteral("Unsaved counts"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
        hostally::Status problem;
        if (answer != Dialogs::Answer::Yes) {
            // Escape decides nothing: the counts stay in their file for the next start.
            m_session.answer(offer,
                answer == Dialogs::Answer::No ? hostally::OfferAnswer::Decline
                                              : hostally::OfferAnswer::Keep,
                &problem);
            if (!problem.ok)
                reportFailure(m_dialogs, this, problem,
                    QStringLiteral("The unsaved counts could not be deleted.\n\n%1\n\n"
                                   "Hostally will offer them again at the next start."));
            continue;
        }
        // What cannot be placed was named in the question.
        m_session.answer(offer, hostally::OfferAnswer::Restore, &problem);
        for (Column *column : {&m_leagues, &m_events})
            showColumn(*column);
        if (!problem.ok)
            recoveryWritten(problem);
    }
}
