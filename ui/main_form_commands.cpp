// The window's commands: start-up, the twin list commands, Save and Quit.
#include "main_form.h"

#include "data_file.h"
#include "dialogs.h"
#include "merge.h"
#include "windows1252.h"

#include <QFileInfo>
#include <QLabel>

#include <cstdio>

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

QString listName(bool league)
{
    return league ? QStringLiteral("leagues") : QStringLiteral("events");
}

// Why one change could not be merged, in the user's words.
QString refusalText(const hostally::MergeRefusal &refused)
{
    using Kind = hostally::MergeRefusal::Kind;
    if (refused.kind == Kind::ResetChanged)
        return QStringLiteral("you reset the %1, and they were changed in data.txt since this "
                              "window read it")
            .arg(listName(refused.league));
    const QString line
        = QStringLiteral("the %1 \u201C%2\u201D")
              .arg(refused.league ? QStringLiteral("league") : QStringLiteral("event"),
                  fromNameBytes(refused.name));
    switch (refused.kind) {
    case Kind::NotInFile:
        return line + QStringLiteral(" is no longer in data.txt");
    case Kind::RepeatedName:
        return line
            + QStringLiteral(" is in data.txt a different number of times now, so which one you "
                             "counted cannot be told");
    default:
        return QStringLiteral("%1 would pass the largest count data.txt can hold, %2 either way")
            .arg(line, QString::number(hostally::kCountLimit));
    }
}

// The question a save that needs an answer asks about the data file at
// `path`. Where some of the window's changes cannot be merged into it, the
// question names every refusal, up to five, and what Yes and No keep.
QString questionText(const hostally::SaveResult &asked, const QString &path)
{
    const hostally::Status &problem = asked.problem;
    if (asked.question == hostally::SaveQuestion::Missing)
        return QStringLiteral("%1 is no longer there: it was deleted or moved.\n\n"
                              "Yes writes a new data.txt there with the names and counts "
                              "shown in this window.\n"
                              "No writes nothing; your counts stay in the window.")
            .arg(path);
    if (asked.question == hostally::SaveQuestion::Unreadable
        || asked.question == hostally::SaveQuestion::Unparsable) {
        const QString why = asked.question == hostally::SaveQuestion::Unreadable
            ? QStringLiteral("it cannot be read now (%1)")
                  .arg(QString::fromStdString(problem.message))
            : QStringLiteral("Hostally cannot read it now (%1%2)")
                  .arg(problem.line > 0 ? QStringLiteral("line %1: ").arg(problem.line) : QString(),
                      QString::fromStdString(problem.message));
        return QStringLiteral("%1 was changed outside Hostally, and the counts in this window "
                              "cannot be added to it: %2.\n\n"
                              "Yes replaces it with the counts shown in this window.\n"
                              "No leaves it as it is, and nothing is saved.")
            .arg(path, why);
    }
    constexpr int kShown = 5;
    QStringList lines;
    bool lineRefused = false;
    QStringList resetLists;
    for (const hostally::MergeRefusal &refused : asked.refusal.refusals) {
        if (refused.kind == hostally::MergeRefusal::Kind::ResetChanged)
            resetLists.append(listName(refused.league));
        else
            lineRefused = true;
        if (lines.size() < kShown)
            lines.append(QStringLiteral("\u2022 ") + refusalText(refused));
    }
    if (const qsizetype more = asked.refusal.refusals.size() - lines.size(); more > 0)
        lines.append(QStringLiteral("and %1 more").arg(more));
    QString yes = QStringLiteral("Yes saves what can be saved: ");
    if (!resetLists.isEmpty())
        yes += QStringLiteral("the %1 as 0 plus what you counted since the Reset, and ")
                   .arg(resetLists.join(QStringLiteral(" and ")));
    yes += QStringLiteral("every other count in this window added to data.txt as it is now");
    if (lineRefused)
        yes += QStringLiteral(", leaving the lines above as data.txt has them");
    return QStringLiteral("%1 was changed outside Hostally, and not all the counts in this "
                          "window can be added to it:\n\n%2\n\n%3.\n"
                          "No leaves it as it is, and nothing is saved.")
        .arg(path, lines.join(QLatin1Char('\n')), yes);
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
    if (m_dialogs->ask(this, QStringLiteral("Are you sure you wish to erase your stats?"),
            QStringLiteral("Confirm"), Dialogs::Default::No, Dialogs::Escape::AnswersNo)
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
    // The label shows a total too wide for it in a smaller size of its font:
    // a cut number would read as another number.
    const hostally::TallyTable &table = m_session.table(column.league);
    column.totalLabel->setText(fromWindows1252(table.totalLine()));
    // Both labels read "Total Hosted:"; a screen reader, which cannot see
    // where a label stands, says which list it totals.
    column.totalLabel->setAccessibleName(
        QStringLiteral("Total %1 hosted: %2")
            .arg(listName(column.league),
                QString::fromStdString(hostally::numberText(table.total())).trimmed()));
}

// Names are edited in the data file by hand while the window is open, and
// another Hostally, here or on another computer sharing the folder, saves its
// counts there too. Counts are changes that add up: the save puts this
// window's changes into the file as it is then, and asks only when that
// cannot be done. No leaves the file and the changed flag as they are, and
// keeps the window open like a failed save.
bool MainForm::saveTables()
{
    bool answeredYes = false;
    for (;;) {
        const hostally::Tallies before = m_session.tallies();
        const hostally::SaveResult result = m_session.save(answeredYes);
        switch (result.kind) {
        case hostally::SaveResult::Kind::Saved:
            m_recoveryTimer.stop();
            if (result.merged)
                showTallies(before);
            if (result.status.ok)
                m_dialogs->inform(this, QStringLiteral("Saved"), QStringLiteral("Saved"));
            else
                // The counts are in data.txt: saving again would add them
                // twice. Only the disk may not have them yet.
                reportFailure(m_dialogs, this, result.status,
                    QStringLiteral("Your counts were written to data.txt, but it may not be "
                                   "safe on the disk yet.\n\n%1\n\n"
                                   "Copy data.txt somewhere safe, or check the disk."));
            return true;
        case hostally::SaveResult::Kind::Failed: {
            // The counts stay in the window and still count as unsaved, so the
            // user can make room, or put the folder back, and save again.
            m_session.setChanged(true);
            if (result.status.cause != hostally::Status::Cause::Missing) {
                reportFailure(m_dialogs, this, result.status,
                    QStringLiteral("Your counts could not be saved.\n\n%1\n\n"
                                   "They are still in the window: fix the problem, then "
                                   "choose File > Save again."));
                return false;
            }
            // Writing the counts elsewhere would lose them from sight: the user
            // moves the folder back, and the next save finds it.
            const QString gone
                = QStringLiteral("data.txt is no longer in %1: put it back, then choose File > "
                                 "Save again.")
                      .arg(hostally::displayPath(QFileInfo(m_session.dataPath()).path()));
            std::fprintf(stderr, "hostally: %s\n", qPrintable(gone));
            m_dialogs->showError(this, gone, QStringLiteral("Hostally"));
            return false;
        }
        case hostally::SaveResult::Kind::NeedsAnswer:
            // Nothing is held while the question is up: the save reads the
            // file again once it is answered.
            if (m_dialogs->ask(this,
                    questionText(result, hostally::displayPath(m_session.dataPath())),
                    QStringLiteral("Hostally"), Dialogs::Default::No, Dialogs::Escape::AnswersNo)
                != Dialogs::Answer::Yes)
                return false;
            answeredYes = true;
            break;
        }
    }
}

// After a save that added changes from outside, the window shows what it
// saved: both lists rebuilt in the file's order, the selected line still
// selected where it is still there.
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

// Quit and the window's own close button end the same way: unsaved changes are
// offered for saving first, and a save that fails keeps the window open.
bool MainForm::confirmClose()
{
    // Nobody may be there to answer when the session ends: the counts wait
    // in the recovery file for the next start instead.
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
    const Dialogs::Answer answer = m_dialogs->ask(this, QStringLiteral("Save your changes?"),
        QStringLiteral("Save"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
    if (answer == Dialogs::Answer::Back)
        return false;
    if (answer == Dialogs::Answer::No) {
        m_recoveryTimer.stop();
        if (const hostally::Status declined = m_session.decline(); !declined.ok)
            reportFailure(m_dialogs, this, declined,
                QStringLiteral("The counts you chose not to save could not be deleted.\n\n%1\n\n"
                               "Hostally will offer them again at the next start: answer No "
                               "there."));
        return true;
    }
    return saveTables();
}
