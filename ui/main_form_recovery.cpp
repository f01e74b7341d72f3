// The window's recovery file: unsaved counts kept beside data.txt, and
// offered back at the next start when the program ended without a save.
#include "main_form.h"

#include "dialogs.h"
#include "file_io.h"
#include "messages.h"
#include "start_up.h"

#include <QApplication>
#include <QPaintEvent>

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

void MainForm::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    // Only what the first paint needs comes before it; the rest of start-up
    // may wait for the disk, or for the user.
    if (!m_started)
        QMetaObject::invokeMethod(this, &MainForm::startUp, Qt::QueuedConnection);
}

void MainForm::startUp()
{
    if (std::exchange(m_started, true))
        return;
    // Where nothing counted could be kept, say so before the counting starts,
    // while quitting loses nothing.
    const QString path = m_session.dataPath();
    if (inArchiverTemp(path))
        m_dialogs->showError(this, messages::text(Text::InsideZip), QStringLiteral("Hostally"));
    else if (const hostally::Status folder = hostally::checkFolderWritable(path); !folder.ok)
        reportFailure(m_dialogs, this, folder, messages::text(Text::FolderNotWritable));
    else if (const hostally::Status file = hostally::checkReplaceable(path); !file.ok)
        reportFailure(m_dialogs, this, file, messages::text(Text::FileNotWritable));
    // Counts a sync program set aside, then counts left by a Hostally ended
    // from outside: all in the window before any counting.
    hostally::Answers answers;
    hostally::SaveResult result;
    const hostally::Tallies before = m_session.tallies();
    for (result = m_session.start(answers); result.question != hostally::SaveQuestion::None;
         result = m_session.start(answers)) {
        const Dialogs::Answer answer = ask(result);
        if (answer == Dialogs::Answer::Back)
            break;
        answers.take(result.question, answer == Dialogs::Answer::Yes);
    }
    const QString title = QStringLiteral("Counts from another computer");
    if (result.saved) {
        showTallies(before);
        if (const QString merged = messages::copiesMerged(result.copies); !merged.isEmpty())
            m_dialogs->inform(this, merged, title);
    }
    if (!result.status.ok)
        reportFailure(m_dialogs, this, result.status,
            messages::text(result.saved ? Text::SavedNotSynced : Text::CopiesNotMerged));
    if (const QString left = messages::copiesLeft(result.copies); !left.isEmpty())
        m_dialogs->showError(this, left, title);
    offerUnsavedCounts();
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
            = m_dialogs->ask(this, messages::restoreOffer(offer, m_session.preview(offer)),
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
