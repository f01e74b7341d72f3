#include "messages.h"

#include "windows1252.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <functional>

using hostally::Refusal;

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
QString changeText(const hostally::BatchLine &line)
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

// Why a change could not go into data.txt; made `elsewhere`, on another computer.
QString refusal(const Refusal &refused, bool elsewhere = false)
{
    const bool league = refused.line.league;
    const std::string &name = refused.line.name;
    if (refused.kind == Refusal::Kind::ResetChanged)
        return (elsewhere ? QStringLiteral("the %1 were reset on the other computer, and have "
                                           "been changed in data.txt since")
                          : QStringLiteral("you reset the %1, and they have been changed in "
                                           "data.txt since"))
            .arg(listName(league));
    const QString line = QStringLiteral("the ") + lineName(league, name);
    if (refused.kind == Refusal::Kind::NotInFile)
        return line + QStringLiteral(" is no longer in data.txt");
    if (refused.kind == Refusal::Kind::RepeatedName)
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

// The lines refused, each said as the texts say it.
QStringList refusals(const std::vector<Refusal> &refused, bool elsewhere = false)
{
    QStringList lines;
    for (const Refusal &each : refused)
        lines.append(refusal(each, elsewhere));
    return lines;
}

// The copies of `kind`, each named and followed by what `lines` says of it.
QStringList copiesOf(const std::vector<hostally::CopyReport> &copies,
    hostally::CopyReport::Kind kind,
    const std::function<QString(const hostally::CopyReport &)> &lines)
{
    QStringList said;
    for (const hostally::CopyReport &copy : copies)
        if (copy.kind == kind)
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
        u"Your counts could not be saved.\n\n%1",
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
        u"They are still in the window, and kept beside data.txt should Hostally be ended: fix "
        u"the problem, then choose File > Save again.",
        u"They are only in the window: Hostally cannot keep a copy of them beside data.txt "
        u"either, so they would be lost if it were ended now. Fix the problem, then choose File "
        u"> Save again.",
    };
    static_assert(std::size(texts) == std::size_t(Text::NotKept) + 1);
    return QString::fromUtf16(texts[std::size_t(which)]);
}

QString saveQuestion(const hostally::SaveResult &asked, const QString &path)
{
    using hostally::SaveQuestion;
    if (asked.question == SaveQuestion::CopiesRefused)
        return copiesQuestion(asked.copies);
    if (asked.question == SaveQuestion::SameBytes) {
        QStringList lines;
        for (const hostally::BatchLine &line : asked.missing)
            lines.append(lineName(line.league, line.name, true)
                + QStringLiteral(": %1 to %2").arg(line.before).arg(line.after));
        return QStringLiteral("Saves on more than one computer wrote the same data.txt, each "
                              "with counts of its own, so these counts saved on %1 may be "
                              "missing from it:\n\n%2\n\nYes adds them to data.txt. No takes "
                              "data.txt as it is: choose No when both computers counted the "
                              "same visits.")
            .arg(asked.missingFrom.join(QStringLiteral(" and ")), bulletList(lines, kChangesShown));
    }
    if (asked.question == SaveQuestion::Missing)
        return QStringLiteral("%1 is no longer there: it was deleted or moved.\n\n"
                              "Yes writes a new data.txt there with the names and counts "
                              "shown in this window.\n"
                              "No writes nothing; your counts stay in the window.")
            .arg(path);
    const hostally::Status &problem = asked.status;
    const QString message = QString::fromStdString(problem.message);
    if (asked.question != SaveQuestion::Refused)
        return QStringLiteral("%1 was changed outside Hostally, and the counts in this window "
                              "cannot be added to it: %2.\n\n"
                              "Yes replaces it with the counts shown in this window.\n"
                              "No leaves it as it is, and nothing is saved.")
            .arg(path,
                asked.question == SaveQuestion::Unreadable
                    ? QStringLiteral("it cannot be read now (%1)").arg(message)
                    : QStringLiteral("Hostally cannot read it now (%1%2)")
                          .arg(problem.line > 0 ? QStringLiteral("line %1: ").arg(problem.line)
                                                : QString(),
                              message));
    QStringList resetLists;
    for (const Refusal &refused : asked.refusals) {
        if (refused.kind == Refusal::Kind::ResetChanged)
            resetLists.append(listName(refused.line.league));
    }
    QString yes = QStringLiteral("Yes saves what can be saved: ");
    if (!resetLists.isEmpty())
        yes += QStringLiteral("the %1 as 0 plus what you counted since the Reset, and ")
                   .arg(resetLists.join(QStringLiteral(" and ")));
    yes += QStringLiteral("every other count in this window added to data.txt as it is now");
    if (std::size_t(resetLists.size()) < asked.refusals.size())
        yes += QStringLiteral(", leaving the lines above as data.txt has them");
    return QStringLiteral("%1 was changed outside Hostally, and not all the counts in this "
                          "window can be added to it:\n\n%2\n\n%3.\n"
                          "No leaves it as it is, and nothing is saved.")
        .arg(path, bulletList(refusals(asked.refusals), kRefusalsShown), yes);
}

QString restoreOffer(const hostally::Offer &offer, const hostally::Applied &preview)
{
    const hostally::Recovery &recovery = offer.recovery;
    const hostally::Batch &batch = recovery.batch;
    QStringList changed;
    for (bool league : {true, false})
        if (league ? batch.resets.leagues : batch.resets.events)
            changed.append(QStringLiteral("The Reset of the %1").arg(listName(league)));
    for (const hostally::BatchLine &line : batch.lines) {
        if (line.before != line.after)
            changed.append(changeText(line));
    }
    const QDateTime written = QDateTime::fromMSecsSinceEpoch(recovery.writtenMs);
    const QLocale locale;
    const QString when = QStringLiteral("%1 at %2")
                             .arg(locale.toString(written.date(), QLocale::LongFormat),
                                 locale.toString(written.time(), QLocale::ShortFormat));
    const QString changes = changed.size() == 1
        ? QStringLiteral("1 change made in Hostally up to %1 was")
        : QStringLiteral("%1 changes made in Hostally up to %2 were").arg(changed.size());
    QString cannot;
    if (!preview.refused.empty())
        cannot = QStringLiteral("These cannot be restored, as data.txt has changed since:\n\n")
            + bulletList(refusals(preview.refused), kChangesShown) + QStringLiteral("\n\n");
    if (offer.maybeSaved)
        cannot += QStringLiteral("Hostally was ended while it saved them, and cannot tell whether "
                                 "they reached data.txt: look at data.txt before you answer "
                                 "Yes.\n\n");
    return QStringLiteral("%1 not saved:\n\n%2\n\n%3"
                          "Restore them? Yes adds them to the counts in the window; choose "
                          "File > Save to keep them in data.txt. No deletes them. Escape "
                          "keeps them for the next start.")
        .arg(changes.arg(when), bulletList(changed, kChangesShown), cannot);
}

QString copiesMerged(const std::vector<hostally::CopyReport> &copies)
{
    QStringList merged;
    for (const hostally::CopyReport &copy : copies) {
        if (copy.kind != hostally::CopyReport::Kind::Merged)
            continue;
        QStringList counted;
        for (const hostally::BatchLine &line : copy.counted)
            counted.append(lineName(line.league, line.name)
                + (line.after > line.before ? QStringLiteral(" +") : QStringLiteral(" "))
                + QString::number(line.after - line.before));
        if (counted.size() > kChangesShown)
            counted = counted.mid(0, kChangesShown)
                << QStringLiteral("%1 more").arg(counted.size() - kChangesShown);
        merged.append((counted.isEmpty() ? QStringLiteral("nothing to add")
                                         : counted.join(QStringLiteral(", ")))
            + QStringLiteral(" from ") + copyName(copy));
    }
    if (merged.isEmpty())
        return {};
    return QStringLiteral("Hostally added to data.txt the counts made on another computer that "
                          "a sync program had kept in %1, and deleted %2: %3.")
        .arg(merged.size() == 1 ? QStringLiteral("a copy of it") : QStringLiteral("copies of it"),
            merged.size() == 1 ? QStringLiteral("the copy") : QStringLiteral("the copies"),
            merged.join(QStringLiteral("; ")));
}

QString copiesQuestion(const std::vector<hostally::CopyReport> &copies)
{
    const QStringList refused
        = copiesOf(copies, hostally::CopyReport::Kind::Refused, [](const auto &copy) {
              return copyName(copy) + QStringLiteral(":\n")
                  + bulletList(refusals(copy.refused, true), kRefusalsShown);
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
    QStringList left = copiesOf(copies, hostally::CopyReport::Kind::Left, [](const auto &copy) {
        QStringList lines;
        for (const hostally::BatchLine &line : copy.counted)
            lines.append(lineName(line.league, line.name, true)
                + QStringLiteral(": %1 in data.txt, %2 in the copy")
                      .arg(line.before)
                      .arg(line.after));
        return copyName(copy) + QStringLiteral(":\n")
            + (lines.isEmpty() ? QStringLiteral("\u2022 the same counts as data.txt")
                               : bulletList(lines, kChangesShown));
    });
    left += copiesOf(copies, hostally::CopyReport::Kind::Unreadable, [](const auto &copy) {
        return copyName(copy) + QStringLiteral(":\n\u2022 ")
            + QString::fromStdString(copy.problem.toText());
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
