// The window's commands: start-up, the twin list commands, Save and Quit.
#include "main_form.h"

#include "data_file.h"
#include "dialogs.h"
#include "merge.h"
#include "tally_list.h"
#include "windows1252.h"

#include <QLabel>
#include <QListWidget>

#include <optional>

namespace {

// Slot i as its list shows it. The whole line and the name decode alike, so
// the line starts with the name.
TallyLine entryLine(const hostally::TallyTable &table, int i)
{
    return {fromNameBytes(table.name(i)),
        QLatin1Char('-') + QString::fromStdString(hostally::numberText(table.count(i))),
        fromNameBytes(table.entryLine(i))};
}

} // namespace

hostally::Status MainForm::formLoad()
{
    hostally::Status status
        = hostally::loadDataFile(m_dataPath, m_leagues.table, m_events.table, &m_fileBytes);
    if (!status.ok)
        return status;
    fillList(m_events);
    showTotal(m_events);
    fillList(m_leagues);
    showTotal(m_leagues);
    return status;
}

void MainForm::command1Click()
{
    addTo(m_events);
}

void MainForm::command2Click()
{
    removeFrom(m_events);
}

void MainForm::command3Click()
{
    resetColumn(m_events);
}

void MainForm::laddClick()
{
    addTo(m_leagues);
}

void MainForm::lRemoveClick()
{
    removeFrom(m_leagues);
}

void MainForm::cResetClick()
{
    resetColumn(m_leagues);
}

void MainForm::addTo(Column &column)
{
    stepSelected(column, true);
}

void MainForm::removeFrom(Column &column)
{
    stepSelected(column, false);
}

// Add and Remove: step the selected slot, change only its line's text where
// it stands, and leave the list focused with that line (or the first, when
// none was) selected. Taking the line out and putting it back would, for a
// moment, make its neighbour current and scroll the list under the mouse.
void MainForm::stepSelected(Column &column, bool add)
{
    m_changed = true;
    const int i = selectedIndex(column.list);
    if (i != -1 && (add ? column.table.add(i) : column.table.remove(i)))
        column.list->setLine(i, entryLine(column.table, i));
    column.list->setFocus();
    const int row = i == -1 ? 0 : i;
    if (row < column.list->count())
        column.list->selectLine(row);
    showTotal(column);
}

void MainForm::resetColumn(Column &column)
{
    // Asking already counts as a change, whatever the answer. A Return meant
    // for something else must not erase a column: No is the default.
    m_changed = true;
    if (m_dialogs->askYesNo(this, QStringLiteral("Are you sure you wish to erase your stats?"),
            QStringLiteral("Confirm"), Dialogs::Default::No, Dialogs::Escape::AnswersNo)) {
        column.table.reset();
        fillList(column);
    }
    showTotal(column);
}

void MainForm::fillList(Column &column)
{
    QList<TallyLine> lines;
    lines.reserve(column.table.used());
    for (int i = 0; i < column.table.used(); ++i)
        lines.append(entryLine(column.table, i));
    column.list->setLines(lines);
}

void MainForm::showTotal(Column &column)
{
    // The label shows a total too wide for it in a smaller size of its font:
    // a cut number would read as another number.
    column.totalLabel->setText(fromWindows1252(column.table.totalLine()));
    // Both labels read "Total Hosted:"; a screen reader, which cannot see
    // where a label stands, says which list it totals.
    column.totalLabel->setAccessibleName(
        QStringLiteral("Total %1 hosted: %2")
            .arg(&column == &m_events ? QStringLiteral("events") : QStringLiteral("leagues"),
                QString::fromStdString(hostally::numberText(column.table.total())).trimmed()));
}

int MainForm::selectedIndex(const TallyList *list)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

void MainForm::mSaveClick()
{
    if (!saveTables())
        return;
    m_changed = false;
    m_dialogs->inform(this, QStringLiteral("Saved"), QStringLiteral("Saved"));
}

void MainForm::mQuitClick()
{
    close();
}

bool MainForm::saveTables()
{
    std::optional<hostally::Tallies> merged;
    if (!prepareSave(merged))
        return false;
    QByteArray written;
    const hostally::Status status
        = hostally::saveDataFile(m_dataPath, merged ? merged->leagues : m_leagues.table,
            merged ? merged->events : m_events.table, &written);
    if (status.ok) {
        m_fileBytes = written;
        if (merged)
            showTallies(*merged);
        return true;
    }
    reportSaveFailure(status);
    return false;
}

// The counts stay in the window and still count as unsaved, so the user can
// make room and save again.
void MainForm::reportSaveFailure(const hostally::Status &status)
{
    m_changed = true;
    reportFailure(m_dialogs, this, status,
        QStringLiteral("Your counts could not be saved.\n\n%1\n\n"
                       "They are still in the window: fix the problem, then "
                       "choose File > Save again."));
}

// Names are edited in the data file by hand while the window is open, and
// another Hostally, here or on another computer sharing the folder, saves its
// counts there too. Counts are changes that add up: a save puts this window's
// changes into the file as it is now, and asks only when that cannot be done.
// No leaves the file and the changed flag as they are, and keeps the window
// open like a failed save.
bool MainForm::prepareSave(std::optional<hostally::Tallies> &merged)
{
    QByteArray now;
    const hostally::Status read = hostally::readDataFileBytes(m_dataPath, now);
    if (read.ok && now == m_fileBytes)
        return true;
    // Nobody changed a file that another program holds, or a path that is no
    // plain file: say what is wrong rather than ask.
    if (read.cause == hostally::Status::Cause::InUse
        || read.cause == hostally::Status::Cause::NotPlainFile) {
        reportSaveFailure(read);
        return false;
    }
    QString why;
    hostally::Tallies file;
    hostally::Tallies base;
    const auto text = [](const QByteArray &bytes) {
        return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    };
    if (!read.ok) {
        why = QStringLiteral("it cannot be read now (%1)")
                  .arg(QString::fromStdString(read.message));
    } else if (const hostally::Status parsed
               = hostally::parseDataFile(text(now), file.leagues, file.events);
               !parsed.ok) {
        why = QStringLiteral("Hostally cannot read it now (%1%2)")
                  .arg(parsed.line > 0 ? QStringLiteral("line %1: ").arg(parsed.line) : QString(),
                      QString::fromStdString(parsed.message));
    } else if (hostally::parseDataFile(text(m_fileBytes), base.leagues, base.events).ok) {
        hostally::Tallies window;
        window.leagues = m_leagues.table;
        window.events = m_events.table;
        const hostally::MergeResult result = hostally::mergeTallies(base, window, file);
        if (result.ok()) {
            merged = result.merged;
            return true;
        }
        why = refusalText(result);
    }
    const QString prompt
        = QStringLiteral("%1 was changed outside Hostally, and the counts in this window "
                         "cannot be added to it: %2.\n\n"
                         "Yes replaces it with the counts shown in this window.\n"
                         "No leaves it as it is, and nothing is saved.")
              .arg(hostally::displayPath(m_dataPath), why);
    return m_dialogs->askYesNo(
        this, prompt, QStringLiteral("Hostally"), Dialogs::Default::No, Dialogs::Escape::AnswersNo);
}

QString MainForm::refusalText(const hostally::MergeResult &refused)
{
    const QString line
        = QStringLiteral("the %1 \u201C%2\u201D")
              .arg(refused.league ? QStringLiteral("league") : QStringLiteral("event"),
                  fromNameBytes(refused.name));
    if (refused.refusal == hostally::MergeResult::Refusal::NotInFile)
        return line + QStringLiteral(" is no longer in data.txt");
    return QStringLiteral("%1 would pass the largest count data.txt can hold, %2 either way")
        .arg(line)
        .arg(hostally::kCountLimit);
}

// After a save that added changes from outside, the window shows what it
// saved: both lists rebuilt in the file's order, the selected line still
// selected where it is still there.
void MainForm::showTallies(const hostally::Tallies &saved)
{
    for (auto [column, table] :
        {std::pair {&m_leagues, &saved.leagues}, {&m_events, &saved.events}}) {
        const int selected = selectedIndex(column->list);
        const int row = selected < 0 ? -1 : hostally::sameLine(column->table, selected, *table);
        column->table = *table;
        fillList(*column);
        showTotal(*column);
        if (row >= 0)
            column->list->selectLine(row);
    }
}

// Quit and the window's own close button end the same way: unsaved changes are
// offered for saving first, and a save that fails keeps the window open.
bool MainForm::confirmClose()
{
    if (!m_changed)
        return true;
    // Escape and the box's close button go back to the window: taken as No,
    // they would end the program and lose the counts.
    const Dialogs::Answer answer = m_dialogs->ask(this, QStringLiteral("Save your changes?"),
        QStringLiteral("Save"), Dialogs::Default::Yes, Dialogs::Escape::GoesBack);
    if (answer == Dialogs::Answer::Back)
        return false;
    if (answer == Dialogs::Answer::No)
        return true;
    if (!saveTables())
        return false;
    m_dialogs->inform(this, QStringLiteral("Saved"), QStringLiteral("Saved"));
    return true;
}
