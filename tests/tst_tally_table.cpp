#include "merge.h"
#include "name_text.h"
#include "tally_table.h"

#include <QRandomGenerator>
#include <QtTest>

using hostally::kCountLimit;
using hostally::TallyTable;

namespace {

std::int64_t sumOfCounts(const TallyTable &table)
{
    std::int64_t sum = 0;
    for (int i = 0; i < table.used(); ++i)
        sum += table.count(i);
    return sum;
}

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

class TestTallyTable : public QObject {
    Q_OBJECT

private slots:
    void numberText_data();
    void numberText();
    void entryLine_data();
    void entryLine();
    void totalLine_data();
    void totalLine();
    void step_data();
    void step();
    void reset();
    void resetEmptyTable();
    void setEntryReplacesSlot();
    void totalFollowsRandomSteps();
    void merge_data();
    void merge();
};

void TestTallyTable::numberText_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("positive") << qint64(7) << QByteArray(" 7");
    QTest::newRow("zero") << qint64(0) << QByteArray(" 0");
    QTest::newRow("negative") << qint64(-2) << QByteArray("-2");
    QTest::newRow("no separators") << qint64(1234567) << QByteArray(" 1234567");
    QTest::newRow("limit") << qint64(kCountLimit) << QByteArray(" 999999999999999");
    QTest::newRow("most negative")
        << std::numeric_limits<qint64>::min() << QByteArray("-9223372036854775808");
}

void TestTallyTable::numberText()
{
    QFETCH(qint64, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(hostally::numberText(value)), expected);
}

void TestTallyTable::entryLine_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty name gets 13 spaces")
        << QByteArray() << qint64(0) << QByteArray("             - 0");
    QTest::newRow("five characters")
        << QByteArray("North") << qint64(3) << QByteArray("North        - 3");
    QTest::newRow("twelve characters get one space")
        << QByteArray("Twelve chars") << qint64(1) << QByteArray("Twelve chars - 1");
    QTest::newRow("thirteen characters get none")
        << QByteArray("Thirteen char") << qint64(10) << QByteArray("Thirteen char- 10");
    QTest::newRow("long name kept whole") << QByteArray("A much longer event name") << qint64(2)
                                          << QByteArray("A much longer event name- 2");
    QTest::newRow("negative count")
        << QByteArray("West") << qint64(-2) << QByteArray("West         --2");
    QTest::newRow("8-bit bytes count one each")
        << QByteArray("Caf\xE9") << qint64(4) << QByteArray("Caf\xE9         - 4");
    QTest::newRow("UTF-8 name counts its characters")
        << QByteArray("Caf\xC3\xA9") << qint64(4) << QByteArray("Caf\xC3\xA9         - 4");
    QTest::newRow("twelve UTF-8 characters get one space")
        << QByteArray("\xC3\x89mile \xC3\x85\xC3\x96 \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC")
        << qint64(-1)
        << QByteArray("\xC3\x89mile \xC3\x85\xC3\x96 \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC --1");
    // A name is read as UTF-8 only when all of it is valid UTF-8; otherwise
    // each byte is a character.
    const auto padded = [](const char *row, const char *name, int spaces) {
        QTest::newRow(row) << QByteArray(name) << qint64(0)
                           << QByteArray(name) + QByteArray(spaces, ' ') + "- 0";
    };
    padded("a lead byte without its continuation", "Caf\xC3", 9);
    padded("three-byte characters", "\xE2\x80\x9CQuiz\xE2\x80\x9D \xE2\x82\xAC", 5);
    padded("a four-byte character", "Party \xF0\x9F\x8E\x89", 6);
    padded("UTF-8, then a Windows-1252 byte", "Caf\xC3\xA9 \xE9", 6);
    padded("an overlong form", "\xE0\x80\xAF", 10);
    padded("a surrogate", "\xED\xA0\x80", 10);
    padded("past U+10FFFF", "\xF4\x90\x80\x80", 9);
    QTest::newRow("comma and spaces kept")
        << QByteArray(" a, b ") << qint64(0) << QByteArray(" a, b        - 0");
}

void TestTallyTable::entryLine()
{
    QFETCH(QByteArray, name);
    QFETCH(qint64, count);
    QFETCH(QByteArray, expected);
    TallyTable table(3);
    table.setEntry(0, name.toStdString(), count);
    const QByteArray line = QByteArray::fromStdString(table.entryLine(0));
    QCOMPARE(line, expected);
    // The line reads as UTF-8 exactly when its name does, so the window
    // decodes both alike.
    const auto bytes
        = [](const QByteArray &b) { return std::string_view(b.constData(), b.size()); };
    QCOMPARE(hostally::isUtf8Name(bytes(line)), hostally::isUtf8Name(bytes(name)));
    const std::size_t length = hostally::nameLength(bytes(name));
    if (length <= 12)
        QCOMPARE(line.indexOf('-', name.size()), name.size() + 13 - qsizetype(length));
}

void TestTallyTable::totalLine_data()
{
    QTest::addColumn<QList<qint64>>("counts");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("two spaces before a positive total")
        << QList<qint64> {4, 0, 8} << QByteArray("Total Hosted:  12");
    QTest::newRow("negative total") << QList<qint64> {-3, 2} << QByteArray("Total Hosted: -1");
    QTest::newRow("entries summing to zero")
        << QList<qint64> {5, -5, 0} << QByteArray("Total Hosted:  0");
    QTest::newRow("empty table") << QList<qint64> {} << QByteArray("Total Hosted:  0");
}

void TestTallyTable::totalLine()
{
    QFETCH(QList<qint64>, counts);
    QFETCH(QByteArray, expected);
    TallyTable table(100);
    for (int i = 0; i < counts.size(); ++i)
        table.setEntry(i, "e" + std::to_string(i), counts[i]);
    QCOMPARE(QByteArray::fromStdString(table.totalLine()), expected);
}

void TestTallyTable::step_data()
{
    QTest::addColumn<bool>("isAdd");
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("after");
    QTest::addColumn<bool>("changed");
    QTest::newRow("add to zero") << true << qint64(0) << qint64(1) << true;
    QTest::newRow("add to minus one gives zero") << true << qint64(-1) << qint64(0) << true;
    QTest::newRow("add at the limit changes nothing")
        << true << qint64(kCountLimit) << qint64(kCountLimit) << false;
    QTest::newRow("remove from five") << false << qint64(5) << qint64(4) << true;
    QTest::newRow("remove from one") << false << qint64(1) << qint64(0) << true;
    QTest::newRow("remove from zero changes nothing") << false << qint64(0) << qint64(0) << false;
    QTest::newRow("remove from minus one gives minus two")
        << false << qint64(-1) << qint64(-2) << true;
    QTest::newRow("remove at the negative limit changes nothing")
        << false << qint64(-kCountLimit) << qint64(-kCountLimit) << false;
}

void TestTallyTable::step()
{
    QFETCH(bool, isAdd);
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    QFETCH(bool, changed);
    TallyTable table(3);
    table.setEntry(0, "North", 7);
    table.setEntry(1, "South", before);
    table.setEntry(2, "West", -3);
    const std::int64_t totalBefore = table.total();

    const bool result = isAdd ? table.add(1) : table.remove(1);

    QCOMPARE(result, changed);
    QCOMPARE(table.count(1), after);
    QCOMPARE(table.total(), totalBefore + (after - before));
    QCOMPARE(table.count(0), 7);
    QCOMPARE(table.count(2), -3);
}

void TestTallyTable::reset()
{
    TallyTable table(3);
    table.setEntry(0, "North", 7);
    table.setEntry(1, "South", -4);
    table.setEntry(2, "West", 0);
    table.reset();
    QCOMPARE(table.used(), 3);
    QCOMPARE(table.total(), 0);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(table.count(i), 0);
    QCOMPARE(table.name(1), std::string("South"));
}

void TestTallyTable::resetEmptyTable()
{
    TallyTable table(100);
    table.reset();
    QCOMPARE(table.used(), 0);
    QCOMPARE(table.total(), 0);
    QCOMPARE(QByteArray::fromStdString(table.totalLine()), QByteArray("Total Hosted:  0"));
}

void TestTallyTable::setEntryReplacesSlot()
{
    TallyTable table(100);
    table.setEntry(0, "Quiz", 5);
    table.setEntry(1, "Relay", 1);
    table.setEntry(0, "Quiz", 2);
    QCOMPARE(table.used(), 2);
    QCOMPARE(table.total(), 3);
    QCOMPARE(table.capacity(), 100);
}

// Whatever the order of steps, the total stays the sum of the counts.
void TestTallyTable::totalFollowsRandomSteps()
{
    QRandomGenerator rng(20261207);
    TallyTable table(100);
    for (int i = 0; i < 100; ++i)
        table.setEntry(i, "e", rng.bounded(-3, 4));
    for (int step = 0; step < 20000; ++step) {
        const int i = rng.bounded(100);
        switch (rng.bounded(20)) {
        case 0:
            table.reset();
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
            table.add(i);
            break;
        default:
            table.remove(i);
            break;
        }
        QCOMPARE(table.total(), sumOfCounts(table));
    }
}

void TestTallyTable::merge_data()
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
void TestTallyTable::merge()
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

QTEST_GUILESS_MAIN(TestTallyTable)
#include "tst_tally_table.moc"
