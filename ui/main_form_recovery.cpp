// The window's recovery file: unsaved counts kept beside data.txt, and
// offered back at the next start when the program ended without a save.
#include "main_form.h"

#include "dialogs.h"
#include "messages.h"

#include <QApplication>

#include <utility>

using messages::Text;

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
    if (!std::exchange(m_recoveryFailureSaid, true))
        reportFailure(m_dialogs, this, written, messages::text(Text::RecoveryUnwritable));
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

void MainForm::mergeConflictCopies()
{
    const QString title = QStringLiteral("Counts from another computer");
    // The copies that merge whole, then, after Yes, those that do not.
    hostally::SaveResult result;
    for (const bool takeRefused : {false, true}) {
        if (takeRefused
            && (messages::copiesQuestion(result.copies).isEmpty()
                || m_dialogs->ask(this, messages::copiesQuestion(result.copies), title,
                       Dialogs::Default::No, Dialogs::Escape::AnswersNo)
                    != Dialogs::Answer::Yes))
            break;
        const hostally::Tallies before = m_session.tallies();
        result = m_session.mergeCopies(takeRefused);
        if (result.saved) {
            showTallies(before);
            m_dialogs->inform(this, messages::copiesMerged(result.copies), title);
        }
        if (!result.status.ok)
            reportFailure(m_dialogs, this, result.status,
                messages::text(result.saved ? Text::SavedNotSynced : Text::CopiesNotMerged));
    }
    if (const QString left = messages::copiesLeft(result.copies); !left.isEmpty())
        m_dialogs->showError(this, left, title);
}

// Yes merges a file's counts into data.txt as just read, as a save would, but
// only in the window: data.txt changes only when the user saves.
void MainForm::offerUnsavedCounts()
{
    for (hostally::Offer &offer : m_session.leftOffers()) {
        if (!offer.read.ok) {
            // Kept: it may be read by a later Hostally, or by the user.
            m_session.answer(offer, hostally::OfferAnswer::Keep);
            reportFailure(m_dialogs, this, offer.read, messages::text(Text::RecoveryUnreadable));
            continue;
        }
        const Dialogs::Answer answer
            = m_dialogs->ask(this, messages::restoreOffer(offer.recovery, m_session.preview(offer)),
                QStringLiteral("Unsaved counts"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
        hostally::Status problem;
        if (answer != Dialogs::Answer::Yes) {
            // Escape decides nothing: the counts stay in their file for the next start.
            m_session.answer(offer,
                answer == Dialogs::Answer::No ? hostally::OfferAnswer::Decline
                                              : hostally::OfferAnswer::Keep,
                &problem);
            if (!problem.ok)
                reportFailure(m_dialogs, this, problem, messages::text(Text::RecoveryNotDeleted));
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
