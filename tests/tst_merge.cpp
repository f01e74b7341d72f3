#include "merge.h"
#include "save_history.h"

#include <QtTest>

namespace {

// Tables written "North=4, South=0, West=-1 | Quiz=3, Relay=0": leagues | events.
hostally::Tallies tallies(const QString &text)
{
    hostally::Tallies out;
    for (int t = 0; t < 2; ++t) {
        const QStringList entries = text.split('|').value(t).split(',', Qt::SkipEmptyParts);
        for (int i = 0; i < entries.size(); ++i) {
            const QStringList entry = entries[i].trimmed().split('=');
            // "cp:" marks a name saved in the 8-bit code page rather than UTF-8.
            const QString name = entry[0];
            (t ? out.events : out.leagues)
                .setEntry(i,
                    name.startsWith("cp:") ? name.mid(3).toLatin1().toStdString()
                                           : name.toStdString(),
                    entry[1].toLongLong());
        }
    }
    return out;
}

} // namespace

class TestMerge : public QObject {
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
    void copies_data();
    void copies();
};

void TestMerge::merge_data()
{
    QTest::addColumn<QString>("window"); // the window's tables after its clicks
    QTest::addColumn<QString>("file"); // data.txt as it is now
    QTest::addColumn<QString>("merged"); // every change that could be placed; "" for the file
    QTest::addColumn<QString>("refused"); // "Kind league|event line; ..."
    QTest::addColumn<QString>("resets"); // the lists reset in the window
    QTest::addColumn<QString>("base"); // what the window read
    const char *read = "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-2";
    auto row = [read](const char *name, const char *window, const char *file, const char *merged,
                   const char *refused = "", const char *resets = "", const char *base = nullptr) {
        QTest::newRow(name) << window << file << merged << refused << resets
                            << (base ? base : read);
    };
    row("an unchanged file: the window's counts", "A=5, B=0, C=-1 | Quiz=2, Relay=0, Quiz=-3",
        "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-2", "A=5, B=0, C=-1 | Quiz=2, Relay=0, Quiz=-3");
    row("counts changed, lines added, moved and deleted by hand",
        "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2", "A=4, B=0, C=-1 | Film=2, Quiz=9, Quiz=-2",
        "A=4, B=0, C=-1 | Film=2, Quiz=10, Quiz=-2");
    row("a repeated name: the second to the second, negative lower",
        "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-4", "A=4, B=0, C=-1 | Quiz=1, Quiz=-7, Relay=0",
        "A=4, B=0, C=-1 | Quiz=1, Quiz=-9, Relay=0");
    row("Reset, file as read: zeros and what was counted since",
        "A=0, B=0, C=0 | Quiz=1, Relay=0, Quiz=0", "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-2",
        "A=0, B=0, C=0 | Quiz=1, Relay=0, Quiz=0", "", "leagues events");
    row("Reset, counted elsewhere since: asked, zeros kept",
        "A=0, B=1, C=0 | Quiz=4, Relay=0, Quiz=-2", "A=6, B=1, C=-1 | Quiz=5, Relay=0, Quiz=-2",
        "A=0, B=1, C=0 | Quiz=6, Relay=0, Quiz=-2", "ResetChanged league -1", "leagues");
    row("Reset after a hand correction: asked, zeros kept",
        "A=4, B=0, C=-1 | Quiz=0, Relay=0, Quiz=0", "A=4, B=0, C=-1 | Quiz=100, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=0, Relay=0, Quiz=0", "ResetChanged event -1", "events");
    row("two windows' Removes meet at 0", "A=0, B=0, C=-2 | Quiz=3, Relay=0, Quiz=-2",
        "A=1, B=0, C=0 | Quiz=3, Relay=0, Quiz=-2", "A=0, B=0, C=0 | Quiz=3, Relay=0, Quiz=-2");
    row("a count may reach the limit", "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=999999999999998, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=999999999999999, Relay=0, Quiz=-2");
    row("a Windows-1252 name saved as UTF-8", "A=4 | cp:Caf\u00e9=4", "A=4 | Caf\u00e9=3",
        "A=4 | Caf\u00e9=4", "", "", "A=4 | cp:Caf\u00e9=3");
    row("a UTF-8 name saved as Windows-1252", "A=4 | Caf\u00e9=4", "A=4 | cp:Caf\u00e9=5",
        "A=4 | cp:Caf\u00e9=6", "", "", "A=4 | Caf\u00e9=3");
    row("refused: a counted event renamed", "A=4, B=0, C=-1 | Quiz=3, Relay=1, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=3, Relay race=0, Quiz=-2", "", "NotInFile event 1");
    row("refused: a counted league renamed", "A=4, B=0, C=0 | Quiz=3, Relay=0, Quiz=-2",
        "A=4, B=0, D=-1 | Quiz=3, Relay=0, Quiz=-2", "", "NotInFile league 2");
    row("refused: the other line of a repeated name deleted",
        "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2", "A=4, B=0, C=-1 | Relay=0, Quiz=-2", "",
        "RepeatedName event 0");
    row("refused: a counted name added again", "A=4, B=0, C=-1 | Quiz=3, Relay=1, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-2, Relay=0", "", "RepeatedName event 1");
    row("refused: past the largest count", "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=999999999999999, Quiz=-2", "", "OutOfRange event 0");
    row("refused: past the most negative count", "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-3",
        "A=4, B=0, C=-1 | Quiz=3, Quiz=-999999999999999", "", "OutOfRange event 2");
    row("refused lines left, every other change kept", "A=5, B=1, C=-1 | Quiz=4, Relay=2, Quiz=-2",
        "B=3, C=-1, D=2 | Quiz=10, Relay=0, Film=1", "B=4, C=-1, D=2 | Quiz=10, Relay=2, Film=1",
        "NotInFile league 0; RepeatedName event 0");
}

// A save adds the window's changes since it read the file to the file as it
// is now; what it cannot place it names, and merges everything else.
void TestMerge::merge()
{
    QFETCH(QString, window);
    QFETCH(QString, file);
    QFETCH(QString, merged);
    QFETCH(QString, refused);
    QFETCH(QString, resets);
    QFETCH(QString, base);
    const hostally::Tallies read = tallies(base);
    const hostally::MergeResult result = hostally::mergeTallies(read, tallies(window),
        tallies(file), {resets.contains("leagues"), resets.contains("events")});
    QVERIFY(result.merged == tallies(merged.isEmpty() ? file : merged));
    QStringList seen;
    for (const hostally::MergeRefusal &r : result.refusals) {
        const char *kinds[] = {"NotInFile", "RepeatedName", "OutOfRange", "ResetChanged"};
        seen.append(QStringLiteral("%1 %2 %3")
                        .arg(kinds[static_cast<int>(r.kind)], r.league ? "league" : "event",
                            QString::number(r.line)));
        if (r.line >= 0)
            QCOMPARE(r.name, (r.league ? read.leagues : read.events).name(r.line));
    }
    QCOMPARE(seen.join("; "), refused);
    QCOMPARE(result.ok(), refused.isEmpty());
}

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"

void TestMerge::copies_data()
{
    // Saves in order, each "version=from+n@computer": Quiz counted n more
    // (-n fewer, ~Name renamed, &v merged with v), recorded by computer A, B or C,
    // or by none (-);
    // "!" marks a save of another computer's that a crash may have ended;
    // ":ms" gives its time, as clocks or saves a millisecond apart may.
    QTest::addColumn<QString>("saves");
    QTest::addColumn<QString>("file"); // the version that is data.txt
    QTest::addColumn<QString>("copies"); // the versions in conflict copies
    // Each copy Merged, Refused or Unrelated; then m where data.txt's own
    // counts that a sync program dropped are merged, as a copy it did not make.
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<QString>("merged"); // data.txt after, its first event
    const auto row = [](const char *name, const char *saves, const char *file, const char *copies,
                         const char *kinds, const char *quizAfter) {
        QTest::newRow(name) << saves << file << copies << kinds
                            << QStringLiteral("A=1, B=0, C=0 | %1, Relay=0").arg(quizAfter);
    };
    row("a copy merged from the records", "a=v0+2@A b=v0+3@B", "b", "a", "M", "Quiz=8");
    row("two saves offline on one computer", "a1=v0+2@A a2=a1+2@A b=v0+3@B", "b", "a2", "M",
        "Quiz=10");
    row("one save online, then one offline", "a1=v0+2@A b=a1+3@B a2=a1+1@A", "b", "a2", "M",
        "Quiz=9");
    row("a count undone, back to an older file, then offline",
        "a1=v0+1@A a2=a1-1@A a3=a2+5@A b=a1+2@B", "b", "a3", "M", "Quiz=10");
    row("a copy already in data.txt", "a=v0+2@A m=a+3@B", "m", "a", "M", "Quiz=8");
    row("its counts reached again in data.txt since", "b=v0+1@B a=b+2@A d=b+2@A", "d", "a", "M",
        "Quiz=8");
    row("a copy no record knows", "x=v0+2@- b=v0+3@B", "b", "x", "U", "Quiz=6");
    row("copies from two computers", "a=v0+2@A c=v0+1@C b=v0+3@B", "b", "a c", "MM", "Quiz=9");
    row("a merge of copies and one it holds", "a=v0+2@A b=v0+3@B m=a&b@A d=a+1@B", "d", "b m", "MM",
        "Quiz=9");
    row("a copy of a copy: only what is new in it", "a=v0+2@A c=a+2@C b=v0+3@B", "b", "a c", "MM",
        "Quiz=10");
    row("its line renamed in data.txt since", "a=v0+2@A b=v0~Trivia@B", "b", "a", "R", "Trivia=3");
    row("data.txt as only a save only begun writes it", "a=v0+2@A p=v0+3@B!", "p", "a", "M",
        "Quiz=8");
    row("data.txt as a save only begun would write", "a=v0+2@A p=a-2@A!", "v0", "a", "U", "Quiz=3");
    row("its line renamed in the copy", "a=v0~Trivia@A b=v0+3@B", "b", "a", "R", "Quiz=6");
    row("a copy saved in the millisecond of the save it merged",
        "a=v0+1@A c=a+1@B:2001 m=c&a@A:2001 d=c+2@B", "d", "m", "M", "Quiz=8");
    row("the same file saved on two computers", "a=v0+2@A b=a+1@B c=a+1@A", "c", "", "m", "Quiz=7");
    row("the same file, but the other save only begun", "a=v0+2@A b=a+1@B! c=a+1@A", "c", "", "",
        "Quiz=6");
    row("the same first save on two computers", "a=v0+1@A b=v0+1@B", "b", "", "m", "Quiz=5");
    row("the same file on two computers, saved again since", "b=v0+1@B a=v0+1@A c=b+2@B", "c", "",
        "m", "Quiz=7");
    row("an older file's bytes saved again on the other, carried on since",
        "p=v0+1@B a=p+1@A t=a-1@A u=t+2@A d=a+3@B", "d", "", "", "Quiz=8");
    row("the same file reached in two saves on each computer",
        "a1=v0+2@A a2=a1+1@A b1=v0+1@B b2=b1+2@B", "b2", "", "m", "Quiz=9");
    row("the same file again, saved from it on a computer whose clock is behind",
        "w=v0+1@B:5000 x=w+1@A u=x-1@A:4500", "w", "", "", "Quiz=4");
    row("the same file, but saved from a version not in data.txt's history",
        "b=v0+1@B x=v0+5@- c=x-4@A", "c", "", "", "Quiz=4");
}

// A conflict copy adds what its computer counted since the version it and
// data.txt both descend from, once: a next start, the copies still there as
// when deleting them failed, adds nothing more.
void TestMerge::copies()
{
    QFETCH(QString, saves);
    QFETCH(QString, file);
    QFETCH(QString, copies);
    QFETCH(QString, kinds);
    QFETCH(QString, merged);
    const auto bytes
        = [](const hostally::Tallies &t) { return hostally::formatDataFile(t.leagues, t.events); };
    const auto read = [](const std::string &text) {
        hostally::Tallies t;
        hostally::parseDataFile(text, t.leagues, t.events);
        return t;
    };
    std::map<QString, std::string> versions {
        {"v0", bytes(tallies("A=1, B=0, C=0 | Quiz=3, Relay=0"))}};
    std::vector<hostally::ComputerSaves> history;
    std::int64_t ms = 1000;
    const QRegularExpression step(R"((\w+)=(\w+)([-+~&])(\w+)@([-A-Z])(!?):?(\d*))");
    for (const QString &save : saves.split(' ')) {
        const QRegularExpressionMatch m = step.match(save);
        QVERIFY(m.hasMatch());
        hostally::Tallies t = read(versions[m.captured(2)]);
        const QString op = m.captured(3);
        const std::int64_t n = op == "&" ? read(versions[m.captured(4)]).events.count(0) - 3
                                         : m.captured(4).toLongLong() * (op == "-" ? -1 : 1);
        t.events.setEntry(0, op == "~" ? m.captured(4).toStdString() : t.events.name(0),
            t.events.count(0) + (op == "~" ? 0 : n));
        versions[m.captured(1)] = bytes(t);
        const std::string computer = m.captured(5).toStdString();
        if (computer == "-")
            continue;
        auto saver = std::find_if(history.begin(), history.end(),
            [&](const auto &saves) { return saves.computer == computer; });
        if (saver == history.end())
            saver = history.insert(history.end(), {computer, {}});
        ms += 1000;
        hostally::SaveRecord record {
            m.captured(7).isEmpty() ? ms : m.captured(7).toLongLong(), {}, versions[m.captured(1)]};
        for (const QString &from : {m.captured(2), op == "&" ? m.captured(4) : QString()}) {
            if (!from.isEmpty())
                record.replaced.push_back(versions[from]),
                    record.from.push_back(hostally::writersOf(history, versions[from]));
        }
        record.swapping = m.captured(6).isEmpty() ? "" : "x";
        saver->saves.push_back(record);
    }
    std::vector<std::string> copyBytes;
    for (const QString &copy : copies.split(' ', Qt::SkipEmptyParts))
        copyBytes.push_back(versions[copy]);

    for (const bool again : {false, true}) {
        hostally::Tallies tables = read(versions[file]);
        hostally::SaveRecord merge {
            ms += 1000, {versions[file]}, {}, {hostally::writersOf(history, versions[file])}};
        const auto outcomes
            = hostally::mergeCopies(history, versions[file], tables, copyBytes, false, merge);
        QString seen;
        for (std::size_t c = 0; c < outcomes.size(); ++c) {
            seen += QString("MRUX")[int(outcomes[c].kind)];
            // What a copy is said to have counted is what it holds.
            if (c >= copyBytes.size())
                continue; // dropped counts, in no copy
            const hostally::Tallies copy = read(copyBytes[c]);
            for (const hostally::RecoveredLine &line : outcomes[c].counted) {
                const hostally::TallyTable &t = line.league ? copy.leagues : copy.events;
                int at = 0;
                while (at < t.used() && t.name(at) != line.name)
                    ++at;
                QVERIFY(at < t.used() && t.count(at) == line.after);
            }
        }
        // Dropped counts, once merged, are in data.txt's history like a copy's.
        const QString expected = again ? QString(kinds).remove('m') : kinds.toUpper();
        QCOMPARE(seen, expected);
        QVERIFY(tables == tallies(merged));
        QCOMPARE(merge.replaced.size(), std::size_t(1 + expected.count('M')));
        if (again)
            break;
        // This computer's save of the merge, as data.txt now.
        merge.written = versions[file] = bytes(tables);
        history.push_back({"B2", {merge}});
    }
}
