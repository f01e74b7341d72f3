// The window's commands: start-up, the twin list commands, Save and Quit.
#include "main_form.h"

#include "data_file.h"
#include "dialogs.h"
#include "windows1252.h"

#include <QLabel>
#include <QListWidget>

namespace {

QString entryLine(const hostally::TallyTable &table, int i)
{
    return fromNameBytes(table.entryLine(i));
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

// Add and Remove: step the selected slot, replace only its line, and leave the
// list focused with that line (or the first, when none was) selected.
void MainForm::stepSelected(Column &column, bool add)
{
    m_changed = true;
    const int i = selectedIndex(column.list);
    if (i != -1) {
        const bool changed = add ? column.table.add(i) : column.table.remove(i);
        if (changed) {
            delete column.list->takeItem(i);
            column.list->insertItem(i, entryLine(column.table, i));
        }
    }
    column.list->setFocus();
    const int row = i == -1 ? 0 : i;
    if (row < column.list->count()) {
        column.list->setCurrentRow(row);
        column.list->scrollToItem(column.list->item(row));
    }
    showTotal(column);
}

void MainForm::resetColumn(Column &column)
{
    // Asking already counts as a change, whatever the answer.
    m_changed = true;
    if (m_dialogs->askYesNo(this, QStringLiteral("Are you sure you wish to erase your stats?"),
            QStringLiteral("Confirm"), Dialogs::Default::Yes, Dialogs::Escape::AnswersNo)) {
        column.table.reset();
        fillList(column);
    }
    showTotal(column);
}

void MainForm::fillList(Column &column)
{
    // All lines in one insertion: the list lays itself out once, not per line.
    QStringList lines;
    lines.reserve(column.table.used());
    for (int i = 0; i < column.table.used(); ++i)
        lines.append(entryLine(column.table, i));
    column.list->clear();
    column.list->addItems(lines);
}

void MainForm::showTotal(Column &column)
{
    // The label shows a total too wide for it in a smaller size of its font:
    // a cut number would read as another number.
    column.totalLabel->setText(fromWindows1252(column.table.totalLine()));
}

int MainForm::selectedIndex(const QListWidget *list)
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
    if (!mayReplaceDataFile())
        return false;
    QByteArray written;
    const hostally::Status status
        = hostally::saveDataFile(m_dataPath, m_leagues.table, m_events.table, &written);
    if (status.ok) {
        m_fileBytes = written;
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

// Names are edited in the data file by hand, and another Hostally may save
// to it too: a save replaces the whole file, so it must not throw away what it
// never read without asking. No leaves the file and the changed flag as they
// are, and keeps the window open like a failed save.
bool MainForm::mayReplaceDataFile()
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
    QString prompt = QStringLiteral("%1 was changed outside Hostally since Hostally read it.")
                         .arg(hostally::displayPath(m_dataPath));
    if (!read.ok)
        prompt += QStringLiteral(" It cannot be read now (%1).")
                      .arg(QString::fromStdString(read.message));
    prompt += QStringLiteral("\n\nYes replaces it with the counts shown in this window.\n"
                             "No leaves it as it is, and nothing is saved.");
    return m_dialogs->askYesNo(
        this, prompt, QStringLiteral("Hostally"), Dialogs::Default::No, Dialogs::Escape::AnswersNo);
}

// Quit and the window's own close button end the same way: unsaved changes are
// offered for saving first, and a save that fails keeps the window open.
bool MainForm::confirmClose()
{
    if (!m_changed)
        return true;
    // Escape and the box's close button leave the question up: taken as No,
    // they would end the program and lose the counts.
    if (!m_dialogs->askYesNo(this, QStringLiteral("Save your changes?"), QStringLiteral("Save"),
            Dialogs::Default::Yes, Dialogs::Escape::DoesNothing))
        return true;
    if (!saveTables())
        return false;
    m_dialogs->inform(this, QStringLiteral("Saved"), QStringLiteral("Saved"));
    return true;
}
