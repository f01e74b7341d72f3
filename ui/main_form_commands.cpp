// The window's commands: start-up, the twin list commands, Save and Quit.
#include "main_form.h"

#include "dialogs.h"
#include "file_io.h"
#include "messages.h"
#include "windows1252.h"

#include <QFileInfo>
#include <QLabel>

#include <cstdio>

using messages::Text;

namespace {

// Slot i as its list shows it. The whole line and the name decode alike, so
// the line starts with the name.
TallyLine entryLine(const hostally::TallyTable &table, int i)
{
    return {fromNameBytes(table.name(i)),
        QLatin1Char('-') + QString::fromStdString(hostally::numberText(table.count(i))),
        fromNameBytes(table.entryLine(i))};
}

int selectedIndex(const TallyList *list)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

} // namespace

hostally::Status MainForm::formLoad()
{
    const hostally::Status status = m_session.load();
    if (status.ok)
        for (Column *column : {&m_events, &m_leagues})
            showColumn(*column);
    return status;
}

// Add and Remove: step the selected slot, change only its line's text where
// it stands, and leave the list focused with that line (or the first, when
// none was) selected. Taking the line out and putting it back would, for a
// moment, make its neighbour current and scroll the list under the mouse.
void MainForm::stepSelected(Column &column, bool add)
{
    const int i = selectedIndex(column.list);
    if (m_session.step(column.league, i, add)) {
        column.list->setLine(i, entryLine(m_session.table(column.league), i));
        noteChange();
    }
    column.list->setFocus();
    if (const int row = qMax(i, 0); row < column.list->count())
        column.list->selectLine(row);
    showTotal(column);
}

void MainForm::resetColumn(Column &column)
{
    // Asking already counts as a change, whatever the answer. A Return meant
    // for something else must not erase a column: No is the default.
    m_session.setChanged(true);
    if (m_dialogs->ask(this, messages::text(Text::ConfirmReset), QStringLiteral("Confirm"),
            Dialogs::Default::No, Dialogs::Escape::AnswersNo)
        != Dialogs::Answer::Yes) {
        showTotal(column);
        return;
    }
    m_session.reset(column.league);
    showColumn(column);
    noteChange();
}

void MainForm::showColumn(Column &column)
{
    const hostally::TallyTable &table = m_session.table(column.league);
    QList<TallyLine> lines;
    lines.reserve(table.used());
    for (int i = 0; i < table.used(); ++i)
        lines.append(entryLine(table, i));
    column.list->setLines(lines);
    showTotal(column);
}

void MainForm::showTotal(Column &column)
{
    const hostally::TallyTable &table = m_session.table(column.league);
    column.totalLabel->setText(QString::fromStdString(table.totalLine()));
    // Both labels read "Total Hosted:"; a screen reader, which cannot see
    // where a label stands, says which list it totals.
    column.totalLabel->setAccessibleName(
        QStringLiteral("Total %1 hosted: %2")
            .arg(column.league ? QStringLiteral("leagues") : QStringLiteral("events"))
            .arg(table.total()));
}

// data.txt may be edited by hand, or saved by another Hostally sharing its
// folder, while the window is open: counts are changes that add up, so the
// save adds this window's changes to the file as it is then.
bool MainForm::saveTables()
{
    hostally::Answers answers;
    hostally::SaveResult result;
    for (;;) {
        const hostally::Tallies before = m_session.tallies();
        result = m_session.save(answers);
        if (result.question == hostally::SaveQuestion::None) {
            if (result.saved && result.saved->merged)
                showTallies(before);
            break;
        }
        // Nothing is held while the question is up: the save reads the
        // file again once it is answered.
        const Dialogs::Answer answer = ask(result);
        if (answer == Dialogs::Answer::Back
            || !answers.take(result.question, answer == Dialogs::Answer::Yes))
            return false;
    }
    if (result.saved) {
        m_recoveryTimer.stop();
        const QString copies = messages::copiesMerged(result.copies);
        if (!result.status.ok)
            reportFailure(m_dialogs, this, result.status, messages::text(Text::SavedNotSynced));
        else
            m_dialogs->inform(this,
                messages::text(Text::Saved) + (copies.isEmpty() ? QString() : "\n\n" + copies),
                QStringLiteral("Saved"));
        return true;
    }
    // The counts stay in the window and still count as unsaved, so the user
    // can make room, or put the folder back, and save again.
    m_session.setChanged(true);
    if (result.status.cause == hostally::Status::Cause::Missing) {
        // Writing the counts elsewhere would lose them from sight: the user
        // moves the folder back, and the next save finds it.
        const QString gone
            = messages::text(Text::FolderGone)
                  .arg(hostally::displayPath(QFileInfo(m_session.dataPath()).path()));
        std::fprintf(stderr, "hostally: %s\n", qPrintable(gone));
        m_dialogs->showError(this, gone, QStringLiteral("Hostally"));
        return false;
    }
    // One box for one cause: whether a copy of the counts is kept beside
    // data.txt meanwhile is said with the failure, not in a box of its own.
    m_recoveryTimer.stop();
    const bool kept = m_session.keepUnsavedNow().ok || !m_session.hasUnsavedCounts();
    m_recoveryFailureSaid = !kept;
    reportFailure(m_dialogs, this, result.status,
        messages::text(Text::SaveFailed) + QStringLiteral("\n\n")
            + messages::text(kept ? Text::StillKept : Text::NotKept));
    return false;
}

Dialogs::Answer MainForm::ask(const hostally::SaveResult &asked)
{
    using hostally::SaveQuestion;
    const bool copies = asked.question == SaveQuestion::SameBytes
        || asked.question == SaveQuestion::CopiesRefused;
    return m_dialogs->ask(this,
        messages::saveQuestion(asked, hostally::displayPath(m_session.dataPath())),
        copies ? QStringLiteral("Counts from another computer") : QStringLiteral("Hostally"),
        asked.question == SaveQuestion::SameBytes ? Dialogs::Default::Yes : Dialogs::Default::No,
        asked.question == SaveQuestion::SameBytes ? Dialogs::Escape::GoesBack
                                                  : Dialogs::Escape::AnswersNo);
}

void MainForm::showTallies(const hostally::Tallies &before)
{
    for (auto [column, table] :
        {std::pair {&m_leagues, &before.leagues}, {&m_events, &before.events}}) {
        const int selected = selectedIndex(column->list);
        const int row = selected < 0
            ? -1
            : hostally::sameLine(*table, selected, m_session.table(column->league));
        showColumn(*column);
        if (row >= 0)
            column->list->selectLine(row);
    }
}

bool MainForm::confirmClose()
{
    if (m_sessionEnding) {
        keepUnsavedCountsNow();
        return true;
    }
    if (!m_session.isChanged()) {
        m_session.decline();
        return true;
    }
    // Escape and the box's close button go back to the window: taken as No,
    // they would end the program and lose the counts.
    const Dialogs::Answer answer = m_dialogs->ask(this, messages::text(Text::SaveChanges),
        QStringLiteral("Save"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
    if (answer == Dialogs::Answer::Back)
        return false;
    if (answer == Dialogs::Answer::No) {
        m_recoveryTimer.stop();
        if (const hostally::Status declined = m_session.decline(); !declined.ok)
            reportFailure(m_dialogs, this, declined, messages::text(Text::DeclineFailed));
        return true;
    }
    return saveTables();
}
