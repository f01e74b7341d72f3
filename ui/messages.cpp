#include "messages.h"

#include "windows1252.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <functional>

using hostally::MergeRefusal;

namespace messages {
namespace {

// More lines than a box can show; the rest are counted.
constexpr int kRefusalsShown = 5;
constexpr int kChangesShown = 10;

QString listName(bool league)
{
    return league ? QStringLiteral("leagues") : QStringLiteral("events");
}

// A line as the texts name it, "event “Quiz”", or "Event “Quiz”" to begin one;
// its name may be empty, as data.txt allows.
QString lineName(bool league, const std::string &name, bool first = false)
{
    const char *kind = league ? (first ? "League" : "league") : (first ? "Event" : "event");
    return QStringLiteral("%1 \u201C%2\u201D").arg(QLatin1String(kind), fromNameBytes(name));
}

// One line's change in a recovery file.
QString changeText(const hostally::RecoveredLine &line)
{
    return lineName(line.league, line.name, true)
        + QStringLiteral(": %1 to %2").arg(line.before).arg(line.after);
}

// `lines` one below the other after bullets: the first `most`, then how many more.
QString bulletList(const QStringList &lines, int most)
{
    QStringList shown;
    for (const QString &line : lines.mid(0, most))
        shown.append(QStringLiteral("\u2022 ") + line);
    if (lines.size() > most)
        shown.append(QStringLiteral("\u2026 and %1 more").arg(lines.size() - most));
    return shown.join(QLatin1Char('\n'));
}

// Why a change of the line `name` (empty: the list's Reset) could not go into data.txt.
QString refusal(MergeRefusal::Kind kind, bool league, const std::string &name)
{
    if (kind == MergeRefusal::Kind::ResetChanged)
        return QStringLiteral("you reset the %1, and they have been changed in data.txt since")
            .arg(listName(league));
    const QString line = QStringLiteral("the ") + lineName(league, name);
    if (kind == MergeRefusal::Kind::NotInFile)
        return line + QStringLiteral(" is no longer in data.txt");
    if (kind == MergeRefusal::Kind::NotInBase)
        return line + QStringLiteral(" was added or renamed on the other computer");
    if (kind == MergeRefusal::Kind::RepeatedName)
        return line
            + QStringLiteral(" is in data.txt a different number of times now, so which one you "
                             "counted cannot be told");
    return QStringLiteral("%1 would pass the largest count data.txt can hold, %2 either way")
        .arg(line, QString::number(hostally::kCountLimit));
}

// A copy's name, as the user finds it beside data.txt.
QString copyName(const hostally::CopyReport &copy)
{
    return QStringLiteral("\u201C%1\u201D").arg(QFileInfo(copy.path).fileName());
}

// The copies of `kind`, each named and followed by what `lines` says of it.
QStringList copiesOf(const std::vector<hostally::CopyReport> &copies,
    hostally::CopyOutcome::Kind kind,
    const std::function<QString(const hostally::CopyReport &)> &lines)
{
    QStringList said;
    for (const hostally::CopyReport &copy : copies)
        if (copy.outcome.kind == kind)
            said.append(lines(copy));
    return said;
}

} // namespace

QString text(Text which)
{
    // In the order of Text.
    static const char16_t *const texts[] = {
        u"Save your changes?",
        u"Are you sure you wish to erase your stats?",
        u"Saved",
        u"data.txt is no longer in %1: put it back, then choose File > Save again.",
        u"Your counts could not be saved.\n\n%1\n\nThey are still in the window: fix the "
        u"problem, then choose File > Save again.",
        // The counts are in data.txt: saving again would add them twice.
        u"Your counts were written to data.txt, but it may not be safe on the disk yet.\n\n%1"
        u"\n\nCopy data.txt somewhere safe, or check the disk.",
        u"The counts you chose not to save could not be deleted.\n\n%1\n\nHostally will offer "
        u"them again at the next start: answer No there.",
        u"Hostally cannot keep a copy of your unsaved counts beside data.txt at the moment, so "
        u"they would be lost if Hostally were ended now.\n\n%1\n\nChoose File > Save now. If "
        u"that fails too, free some space on the disk, or put the folder back where it was; "
        u"Hostally keeps trying meanwhile.",
        u"Hostally found counts that were not saved, but cannot read them.\n\n%1\n\nThe file "
        u"is kept as it is.",
        u"The unsaved counts could not be deleted.\n\n%1\n\nHostally will offer them again at "
        u"the next start.",
        u"Counts cannot be saved in this folder, so nothing you count in this window could be "
        u"kept.\n\n%1\n\nQuit Hostally now, move the Hostally folder somewhere you can write, "
#ifdef Q_OS_WIN
        u"such as Documents, and start it from there.",
#else
        u"such as your home folder, and start it from there.",
#endif
        u"Counts cannot be saved in data.txt, so nothing you count in this window could be kept."
        u"\n\n%1\n\nQuit Hostally now, make data.txt writable, and start it again.",
        u"Counts saved here would be lost: the zip tool deletes this folder when it closes.\n\n"
        u"Hostally was started from inside its zip file. Extract all files first (right-click "
        u"the zip file and choose Extract All), then start Hostally from the extracted folder.",
        u"The counts that a sync program kept in copies of data.txt could not be added to it."
        u"\n\n%1\n\nThe copies are kept as they are: Hostally tries again at the next save.",
    };
    static_assert(std::size(texts) == std::size_t(Text::CopiesNotMerged) + 1);
    return QString::fromUtf16(texts[std::size_t(which)]);
}

QString saveQuestion(hostally::SaveQuestion question, const hostally::Status &problem,
    const std::vector<MergeRefusal> &refusals, const QString &path)
{
    using hostally::SaveQuestion;
    if (question == SaveQuestion::Missing)
        return QStringLiteral("%1 is no longer there: it was deleted or moved.\n\n"
                              "Yes writes a new data.txt there with the names and counts "
                              "shown in this window.\n"
                              "No writes nothing; your counts stay in the window.")
            .arg(path);
    const QString message = QString::fromStdString(problem.message);
    if (question != SaveQuestion::Refused)
        return QStringLiteral("%1 was changed outside Hostally, and the counts in this window "
                              "cannot be added to it: %2.\n\n"
                              "Yes replaces it with the counts shown in this window.\n"
                              "No leaves it as it is, and nothing is saved.")
            .arg(path,
                question == SaveQuestion::Unreadable
                    ? QStringLiteral("it cannot be read now (%1)").arg(message)
                    : QStringLiteral("Hostally cannot read it now (%1%2)")
                          .arg(problem.line > 0 ? QStringLiteral("line %1: ").arg(problem.line)
                                                : QString(),
                              message));
    QStringList lines;
    QStringList resetLists;
    for (const MergeRefusal &refused : refusals) {
        if (refused.kind == MergeRefusal::Kind::ResetChanged)
            resetLists.append(listName(refused.league));
        lines.append(refusal(refused.kind, refused.league, refused.name));
    }
    QString yes = QStringLiteral("Yes saves what can be saved: ");
    if (!resetLists.isEmpty())
        yes += QStringLiteral("the %1 as 0 plus what you counted since the Reset, and ")
                   .arg(resetLists.join(QStringLiteral(" and ")));
    yes += QStringLiteral("every other count in this window added to data.txt as it is now");
    if (std::size_t(resetLists.size()) < refusals.size())
        yes += QStringLiteral(", leaving the lines above as data.txt has them");
    return QStringLiteral("%1 was changed outside Hostally, and not all the counts in this "
                          "window can be added to it:\n\n%2\n\n%3.\n"
                          "No leaves it as it is, and nothing is saved.")
        .arg(path, bulletList(lines, kRefusalsShown), yes);
}

QString restoreOffer(const hostally::Recovery &recovery, const hostally::RestoreResult &preview)
{
    QStringList changed;
    for (bool league : {true, false})
        if (league ? recovery.resets.leagues : recovery.resets.events)
            changed.append(QStringLiteral("The Reset of the %1").arg(listName(league)));
    for (const hostally::RecoveredLine &line : hostally::changedLines(recovery))
        changed.append(changeText(line));
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
        QStringList lines;
        for (const hostally::RestoreResult::Refusal &refused : preview.refused)
            lines.append(refusal(refused.why, refused.line.league, refused.line.name));
        cannot = QStringLiteral("These cannot be restored, as data.txt has changed since:\n\n")
            + bulletList(lines, kChangesShown) + QStringLiteral("\n\n");
    }
    return QStringLiteral("%1 not saved:\n\n%2\n\n%3"
                          "Restore them? Yes adds them to the counts in the window; choose "
                          "File > Save to keep them in data.txt. No deletes them. Escape "
                          "keeps them for the next start.")
        .arg(changes.arg(when), bulletList(changed, kChangesShown), cannot);
}

QString copiesMerged(const std::vector<hostally::CopyReport> &copies)
{
    // What each copy added; those a sync program dropped, all together.
    const auto shown = [](QStringList lines) {
        if (lines.size() > kChangesShown)
            lines = lines.mid(0, kChangesShown)
                << QStringLiteral("%1 more").arg(lines.size() - kChangesShown);
        return lines.join(QStringLiteral(", "));
    };
    QStringList merged;
    QStringList dropped;
    for (const hostally::CopyReport &copy : copies) {
        if (copy.outcome.kind != hostally::CopyOutcome::Kind::Merged)
            continue;
        QStringList counted;
        for (const hostally::RecoveredLine &line : copy.outcome.counted)
            counted.append(lineName(line.league, line.name)
                + (line.after > line.before ? QStringLiteral(" +") : QStringLiteral(" "))
                + QString::number(line.after - line.before));
        if (copy.dropped) {
            dropped += counted;
            continue;
        }
        merged.append((counted.isEmpty() ? QStringLiteral("nothing to add") : shown(counted))
            + QStringLiteral(" from ") + copyName(copy));
    }
    const QString droppedText = dropped.isEmpty()
        ? QString()
        : QStringLiteral("Hostally added to data.txt the counts made on another computer that a "
                         "sync program had dropped when both computers' data.txt held the same: "
                         "%1.")
              .arg(shown(dropped));
    if (merged.isEmpty())
        return droppedText;
    return QStringLiteral("Hostally added to data.txt the counts made on another computer that "
                          "a sync program had kept in %1, and deleted %2: %3.%4")
        .arg(merged.size() == 1 ? QStringLiteral("a copy of it") : QStringLiteral("copies of it"),
            merged.size() == 1 ? QStringLiteral("the copy") : QStringLiteral("the copies"),
            merged.join(QStringLiteral("; ")),
            droppedText.isEmpty() ? QString() : QStringLiteral("\n\n") + droppedText);
}

QString copiesQuestion(const std::vector<hostally::CopyReport> &copies)
{
    const QStringList refused
        = copiesOf(copies, hostally::CopyOutcome::Kind::Refused, [](const auto &copy) {
              QStringList lines;
              for (const hostally::RestoreResult::Refusal &refused : copy.outcome.refused)
                  lines.append(refusal(refused.why, refused.line.league, refused.line.name));
              return copyName(copy) + QStringLiteral(":\n") + bulletList(lines, kRefusalsShown);
          });
    if (refused.isEmpty())
        return {};
    return QStringLiteral("A sync program kept counts made on another computer in a copy of "
                          "data.txt, but not all of them can be added to it:\n\n%1\n\n"
                          "Yes adds the others and deletes the copy.\n"
                          "No leaves the copy as it is, and adds nothing from it.")
        .arg(refused.join(QStringLiteral("\n\n")));
}

QString copiesLeft(const std::vector<hostally::CopyReport> &copies)
{
    QStringList left
        = copiesOf(copies, hostally::CopyOutcome::Kind::Unrelated, [](const auto &copy) {
              QStringList lines;
              for (const hostally::RecoveredLine &line : copy.outcome.counted)
                  lines.append(lineName(line.league, line.name, true)
                      + QStringLiteral(": %1 in data.txt, %2 in the copy")
                            .arg(line.before)
                            .arg(line.after));
              return copyName(copy) + QStringLiteral(":\n")
                  + (lines.isEmpty() ? QStringLiteral("\u2022 the same counts as data.txt")
                                     : bulletList(lines, kChangesShown));
          });
    left += copiesOf(copies, hostally::CopyOutcome::Kind::Unreadable, [](const auto &copy) {
        return copyName(copy) + QStringLiteral(":\n\u2022 ")
            + QString::fromStdString(copy.outcome.problem.toText());
    });
    if (left.isEmpty())
        return {};
    return QStringLiteral("A sync program kept a copy of data.txt, but Hostally cannot tell "
                          "which of its counts are new, so it has left it as it is:\n\n%1\n\n"
                          "Add any counts that data.txt lacks by hand, then delete the copy.")
        .arg(left.join(QStringLiteral("\n\n")));
}

QString cannotStart(const hostally::Status &status, bool insideZip)
{
    QString said = QStringLiteral("Hostally cannot start: its data file could not be read.\n\n%1");
    if (insideZip)
        // The advice of the warning about the zip tool's folder.
        said += QStringLiteral("\n\n") + text(Text::InsideZip).section(QStringLiteral("\n\n"), 1);
    else if (status.line > 0)
        // A fault at a line is one that an edit of the file can put right.
        said += QStringLiteral(
            "\n\nCorrect that line of data.txt in a text editor, then start Hostally again.");
    return said;
}

} // namespace messages
