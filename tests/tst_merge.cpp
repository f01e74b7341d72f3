#include "data_format.h"
#include "file_helpers.h"
#include "session.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <set>

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
    void heldSetsAreSetsOfIds();
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
        "A=0, B=1, C=0 | Quiz=6, Relay=0, Quiz=-2", "ResetChanged league", "leagues");
    row("Reset after a hand correction: asked, zeros kept",
        "A=4, B=0, C=-1 | Quiz=0, Relay=0, Quiz=0", "A=4, B=0, C=-1 | Quiz=100, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=0, Relay=0, Quiz=0", "ResetChanged event", "events");
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
        "A=4, B=0, C=-1 | Quiz=3, Relay race=0, Quiz=-2", "", "NotInFile event Relay");
    row("refused: a counted league renamed", "A=4, B=0, C=0 | Quiz=3, Relay=0, Quiz=-2",
        "A=4, B=0, D=-1 | Quiz=3, Relay=0, Quiz=-2", "", "NotInFile league C");
    row("refused: the other line of a repeated name deleted",
        "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2", "A=4, B=0, C=-1 | Relay=0, Quiz=-2", "",
        "RepeatedName event Quiz");
    row("refused: a counted name added again", "A=4, B=0, C=-1 | Quiz=3, Relay=1, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-2, Relay=0", "", "RepeatedName event Relay");
    row("refused: past the largest count", "A=4, B=0, C=-1 | Quiz=4, Relay=0, Quiz=-2",
        "A=4, B=0, C=-1 | Quiz=999999999999999, Quiz=-2", "", "OutOfRange event Quiz");
    row("refused: past the most negative count", "A=4, B=0, C=-1 | Quiz=3, Relay=0, Quiz=-3",
        "A=4, B=0, C=-1 | Quiz=3, Quiz=-999999999999999", "", "OutOfRange event Quiz#1");
    row("refused lines left, every other change kept", "A=5, B=1, C=-1 | Quiz=4, Relay=2, Quiz=-2",
        "B=3, C=-1, D=2 | Quiz=10, Relay=0, Film=1", "B=4, C=-1, D=2 | Quiz=10, Relay=2, Film=1",
        "NotInFile league A; RepeatedName event Quiz");
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
    const hostally::Applied result
        = hostally::apply(hostally::diff(tallies(base), tallies(window),
                              {resets.contains("leagues"), resets.contains("events")}),
            tallies(file), hostally::RefusedReset::Zeros);
    QVERIFY(result.tallies == tallies(merged.isEmpty() ? file : merged));
    QStringList seen;
    for (const hostally::Refusal &r : result.refused) {
        const char *kinds[] = {"NotInFile", "RepeatedName", "OutOfRange", "ResetChanged"};
        seen.append(QStringLiteral("%1 %2%3%4")
                        .arg(kinds[static_cast<int>(r.kind)], r.line.league ? "league" : "event",
                            r.kind == hostally::Refusal::Kind::ResetChanged
                                ? QString()
                                : " " + QString::fromStdString(r.line.name),
                            r.line.nth > 0 ? "#" + QString::number(r.line.nth) : QString()));
    }
    QCOMPARE(seen.join("; "), refused);
    QCOMPARE(result.ok(), refused.isEmpty());
}

void TestMerge::copies_data()
{
    // Steps of computers a, b and c, each on its own folder, every data.txt
    // at first "A=1, B=0, C=0 | Quiz=3, Relay=0": "a+2" a saves Quiz +2 ("a-1"
    // a Remove), "a:reset" a saves a Reset of the events, "a=5" a's user
    // writes Quiz 5 by hand, "a*" a starts; the sync program's moves: "a>b"
    // a's data.txt to b, "a.log>b" a's log to b, "a!b" a's data.txt as a
    // conflict copy on b.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("answers"); // of the last step, a start: S+ adds the counts
                                          // that may be missing, C+ takes copies' refusals
    QTest::addColumn<QString>("kinds"); // of the copies that start finds: Merged, Refused, Left
    QTest::addColumn<int>("quiz"); // its data.txt's Quiz after
    const auto row = [](const char *name, const char *steps, const char *answers, const char *kinds,
                         int quiz) { QTest::newRow(name) << steps << answers << kinds << quiz; };
    row("a copy adds what it holds", "a+2 b+3 a!b a.log>b b*", "", "M", 8);
    row("two saves offline on one computer", "a+2 a+2 b+3 a!b a.log>b b*", "", "M", 10);
    row("one save online, then one offline", "a+2 a>b a.log>b b+3 a+1 a!b a.log>b b*", "", "M", 9);
    row("a count undone, then offline", "a+1 a>b a.log>b a-1 a+5 b+2 a!b a.log>b b*", "", "M", 10);
    row("a copy merged before, back again", "a+2 b+3 a!b a.log>b b* a!b b*", "", "M", 8);
    // One some save replaced since: a hand edit may have put it back, which no log can tell.
    row("a copy of a version since saved over", "a+2 a>b a.log>b b+3 a!b b*", "", "L", 8);
    row("a copy no log knows", "a=5 b+3 a!b b*", "", "L", 6);
    // a's Remove puts back the bytes its first save read, which b's save
    // had replaced: those are not the bytes b's copy started from.
    row("a copy from bytes a save wrote again", "a+1 a>b a.log>b b+2 b.log>a a-1 b!a a*", "", "L",
        3);
    row("copies from two computers", "a+2 c+1 b+3 a!b a.log>b c!b c.log>b b*", "", "MM", 9);
    row("a copy of a copy: only what is new in it",
        "a+2 a>c a.log>c c+2 b+3 a!b a.log>b c!b c.log>b b*", "", "LM", 10);
    row("a Reset met by counts elsewhere: asked, Yes keeps the list", "a:reset b+3 a!b a.log>b b*",
        "C+", "M", 6);
    row("a Reset met by counts elsewhere: No leaves the copy", "a:reset b+3 a!b a.log>b b*", "C-",
        "R", 6);
    // A hand correction back to the bytes of an earlier save of this
    // computer's starts a new root: the copy from before it is named, not
    // added on top as though the correction had never been.
    row("a hand correction back to an earlier save's bytes, then a copy",
        "a+1 a+1 a>b a.log>b b+3 a=4 a+2 b!a b.log>a a*", "", "L", 6);
    // The same bytes from saves that held different batches, a hand
    // correction's among them: asked, never added on a guess.
    row("a hand correction equal to the other's save, then one count",
        "a+1 a+1 a>b a.log>b b=4 b+1 b>a b.log>a a*", "S-", "", 5);
    row("the same change saved on two computers", "a+2 a>b a.log>b b+1 a+1 b.log>a a*", "S+", "",
        7);
    row("the same first save on two computers", "a+1 b+1 a.log>b b*", "S+", "", 5);
    // A merge that both computers made, and a copy whose deletion failed.
    row("a copy both computers merged, left over",
        "a+1 b+2 a!b a.log>b b!a b.log>a a* b* "
        "a.log>b b.log>a b!a a*",
        "", "M", 6);
    // A copy that arrives before the log of the save that wrote it is left
    // as it is until that log is there.
    row("a copy before its log", "a+1 b+2 a!b b* b+1 a.log>b b*", "", "M", 7);
}

// A conflict copy adds the batches its version holds that data.txt lacks,
// once: a next start finds only the copies left as they were.
void TestMerge::copies()
{
    QFETCH(QString, steps);
    QFETCH(QString, answers);
    QFETCH(QString, kinds);
    QFETCH(int, quiz);
    QTemporaryDir dir;
    const auto data = [&dir](QChar c) { return dir.filePath(QString(c) + "/data.txt"); };
    const auto computer = [](QChar c) {
        return hostally::Computer {
            std::string(8, c.toLatin1()), std::string("host-") + c.toLatin1()};
    };
    const auto bytes = [](const hostally::Tallies &t) {
        return QByteArray::fromStdString(hostally::formatDataFile(t.leagues, t.events));
    };
    for (const char c : {'a', 'b', 'c'}) {
        QVERIFY(QDir(dir.path()).mkpath(QString(c)));
        QVERIFY(writeAll(data(c), bytes(tallies("A=1, B=0, C=0 | Quiz=3, Relay=0"))));
    }
    // A start, as a window's: asked, it answers as `said` does, Yes else.
    const auto start = [&](QChar c, const QString &said, QString *asked = nullptr) {
        hostally::Session session(data(c), computer(c));
        session.load();
        hostally::Answers given;
        hostally::SaveResult result = session.start(given);
        for (int n = 0; result.question != hostally::SaveQuestion::None && n < 3; ++n) {
            const QChar letter = result.question == hostally::SaveQuestion::SameBytes ? 'S' : 'C';
            const int at = said.indexOf(letter);
            if (asked)
                *asked += letter + QString(at >= 0 ? said[at + 1] : '+');
            given.take(result.question, at < 0 || said[at + 1] == '+');
            result = session.start(given);
        }
        return result;
    };
    int copies = 0;
    QString asked;
    std::vector<hostally::CopyReport> found;
    const QStringList list = steps.split(' ');
    const QRegularExpression step(R"(([abc])(?:([-+=])(\d+)|:reset|\*|(\.log)?([>!])([abc])))");
    for (int n = 0; n < list.size(); ++n) {
        const QRegularExpressionMatch m = step.match(list[n]);
        QVERIFY2(m.hasMatch(), qPrintable(list[n]));
        const QChar c = m.captured(1)[0], to = m.captured(6).isEmpty() ? c : m.captured(6)[0];
        const QString op = m.captured(2);
        if (op == "=") {
            hostally::Tallies t = tallies("A=1, B=0, C=0 | Quiz=3, Relay=0");
            hostally::parseDataFile(readAll(data(c)).toStdString(), t.leagues, t.events);
            t.events.setEntry(0, "Quiz", m.captured(3).toInt());
            QVERIFY(writeAll(data(c), bytes(t)));
        } else if (!op.isEmpty() || list[n].endsWith(":reset")) {
            hostally::Session session(data(c), computer(c));
            QVERIFY(session.load().ok);
            if (op.isEmpty())
                session.reset(false);
            for (int k = 0; k < m.captured(3).toInt(); ++k)
                session.step(false, 0, op == "+");
            QVERIFY(session.save().saved);
        } else if (list[n].endsWith('*')) {
            const bool last = n + 1 == list.size();
            found = start(c, last ? answers : QString(), last ? &asked : nullptr).copies;
        } else if (!m.captured(4).isEmpty()) {
            const QString name = "/data.txt.log-" + QString(8, c);
            QVERIFY(writeAll(
                dir.filePath(QString(to) + name), readAll(dir.filePath(QString(c) + name))));
        } else {
            QVERIFY(writeAll(m.captured(5) == ">"
                    ? data(to)
                    : dir.filePath(QStringLiteral("%1/data.sync-conflict-20261210-1200%2-%3.txt")
                                       .arg(to)
                                       .arg(copies++, 2, 10, QChar('0'))
                                       .arg(QString(7, c.toUpper()))),
                readAll(data(c))));
        }
    }
    const QChar last = list.last()[0];
    QString seen;
    for (const hostally::CopyReport &copy : found)
        seen += QString("MRLU")[int(copy.kind)];
    QCOMPARE(seen, kinds);
    QCOMPARE(asked, answers);
    hostally::Tallies after;
    QVERIFY(
        hostally::parseDataFile(readAll(data(last)).toStdString(), after.leagues, after.events).ok);
    QCOMPARE(after.events.count(0), qint64(quiz));
    // Once: another start adds nothing; only what was left stays.
    QString again;
    for (const hostally::CopyReport &copy : start(last, answers).copies)
        again += QString("MRLU")[int(copy.kind)];
    QCOMPARE(again, QString(kinds).remove('M'));
    QCOMPARE(readAll(data(last)), bytes(after));
}

// Held sets kept as ranges, against a plain set of ids: random ranges added,
// each step checked, and written to a log and read back.
void TestMerge::heldSetsAreSetsOfIds()
{
    std::mt19937 rng(7);
    for (int run = 0; run < 200; ++run) {
        hostally::Held held, other;
        held.root = {"a", 1};
        std::set<hostally::BatchId> ids, others;
        for (int step = 0; step < 12; ++step) {
            const bool mine = rng() % 3 != 0;
            const std::string computer = rng() % 2 ? "a" : "b";
            const std::int64_t first = 1 + rng() % 30, last = first + rng() % (rng() % 2 ? 2 : 8);
            (mine ? held : other).ids.insert(computer, first, last);
            for (std::int64_t seq = first; seq <= last; ++seq)
                (mine ? ids : others).insert({computer, seq});
            for (const std::string c : {"a", "b"}) {
                for (std::int64_t seq = 0; seq < 42; ++seq)
                    QCOMPARE(held.ids.contains({c, seq}), ids.count({c, seq}) > 0);
                const auto top = std::find_if(ids.rbegin(), ids.rend(),
                    [&](const hostally::BatchId &id) { return id.computer == c; });
                QCOMPARE(held.ids.last(c), top == ids.rend() ? 0 : top->seq);
            }
            std::vector<hostally::BatchId> lacking;
            std::set_difference(ids.begin(), ids.end(), others.begin(), others.end(),
                std::back_inserter(lacking));
            QVERIFY(hostally::minus(held, other) == lacking);
        }
        hostally::Log log, read;
        log.computer = "a", log.name = "here", log.next = 40;
        log.entries.push_back({1, 2, 3, held, {}, {}, {}});
        QVERIFY(hostally::parseLog(hostally::formatLog(log), read).ok);
        QVERIFY(read.entries.at(0).held == held);
    }
}

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"
