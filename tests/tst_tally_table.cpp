#include "name_text.h"
#include "tally_table.h"

#include <QRandomGenerator>
#include <QtTest>

#include <numeric>

using hostally::kCountLimit;
using hostally::TallyTable;

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
    void change_data();
    void change();
    void totalFollowsRandomSteps();
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
    auto row = [](const char *row, const QByteArray &name, qint64 count, const QByteArray &line) {
        QTest::newRow(row) << name << count << line;
    };
    row("empty name gets 13 spaces", "", 0, "             - 0");
    row("five characters", "North", 3, "North        - 3");
    row("twelve characters get one space", "Twelve chars", 1, "Twelve chars - 1");
    row("thirteen characters get none", "Thirteen char", 10, "Thirteen char- 10");
    row("long name kept whole", "A much longer event name", 2, "A much longer event name- 2");
    row("negative count", "West", -2, "West         --2");
    row("8-bit bytes count one each", "Caf\xE9", 4, "Caf\xE9         - 4");
    row("UTF-8 name counts its characters", "Caf\xC3\xA9", 4, "Caf\xC3\xA9         - 4");
    row("twelve UTF-8 characters get one space",
        "\xC3\x89mile \xC3\x85\xC3\x96 \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", -1,
        "\xC3\x89mile \xC3\x85\xC3\x96 \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC --1");
    // A name is read as UTF-8 only when all of it is valid UTF-8; otherwise
    // each byte is a character.
    const auto padded = [&row](const char *name, const char *bytes, int spaces) {
        row(name, bytes, 0, bytes + QByteArray(spaces, ' ') + "- 0");
    };
    padded("a lead byte without its continuation", "Caf\xC3", 9);
    padded("three-byte characters", "\xE2\x80\x9CQuiz\xE2\x80\x9D \xE2\x82\xAC", 5);
    padded("a four-byte character", "Party \xF0\x9F\x8E\x89", 6);
    padded("UTF-8, then a Windows-1252 byte", "Caf\xC3\xA9 \xE9", 6);
    padded("an overlong form", "\xE0\x80\xAF", 10);
    padded("a surrogate", "\xED\xA0\x80", 10);
    padded("past U+10FFFF", "\xF4\x90\x80\x80", 9);
    row("comma and spaces kept", " a, b ", 0, " a, b        - 0");
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
    QTest::addColumn<qint64>("after"); // the step says it changed the count when it did
    QTest::newRow("add to zero") << true << qint64(0) << qint64(1);
    QTest::newRow("add to minus one gives zero") << true << qint64(-1) << qint64(0);
    QTest::newRow("add at the limit changes nothing")
        << true << qint64(kCountLimit) << qint64(kCountLimit);
    QTest::newRow("remove from five") << false << qint64(5) << qint64(4);
    QTest::newRow("remove from one") << false << qint64(1) << qint64(0);
    QTest::newRow("remove from zero changes nothing") << false << qint64(0) << qint64(0);
    QTest::newRow("remove from minus one gives minus two") << false << qint64(-1) << qint64(-2);
    QTest::newRow("remove at the negative limit changes nothing")
        << false << qint64(-kCountLimit) << qint64(-kCountLimit);
}

void TestTallyTable::step()
{
    QFETCH(bool, isAdd);
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    TallyTable table(3);
    table.setEntry(0, "North", 7);
    table.setEntry(1, "South", before);
    table.setEntry(2, "West", -3);
    const std::int64_t totalBefore = table.total();

    const bool result = isAdd ? table.add(1) : table.remove(1);

    QCOMPARE(result, after != before);
    QCOMPARE(table.count(1), after);
    QCOMPARE(table.total(), totalBefore + (after - before));
    QCOMPARE(table.count(0), 7);
    QCOMPARE(table.count(2), -3);
}

void TestTallyTable::change_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QList<qint64>>("counts"); // slots 0, 1, ... named e0, e1, ...
    QTest::addColumn<QString>("change"); // "reset", or "set <slot> <count>"
    QTest::addColumn<QList<qint64>>("after");
    QTest::newRow("reset: every count 0, names and slots kept")
        << 3 << QList<qint64> {7, -4, 0} << "reset" << QList<qint64> {0, 0, 0};
    QTest::newRow("reset of an empty table")
        << 100 << QList<qint64> {} << "reset" << QList<qint64> {};
    QTest::newRow("setEntry replaces a used slot")
        << 100 << QList<qint64> {5, 1} << "set 0 2" << QList<qint64> {2, 1};
    QTest::newRow("setEntry past the capacity changes nothing")
        << 3 << QList<qint64> {5, 1} << "set 3 9" << QList<qint64> {5, 1};
}

void TestTallyTable::change()
{
    QFETCH(int, capacity);
    QFETCH(QList<qint64>, counts);
    QFETCH(QString, change);
    QFETCH(QList<qint64>, after);
    TallyTable table(capacity);
    for (int i = 0; i < counts.size(); ++i)
        table.setEntry(i, "e" + std::to_string(i), counts[i]);
    const QStringList set = change.split(' ');
    if (change == "reset")
        table.reset();
    else
        table.setEntry(set[1].toInt(), "e" + set[1].toStdString(), set[2].toLongLong());
    QCOMPARE(table.capacity(), capacity);
    QCOMPARE(table.used(), after.size());
    QCOMPARE(table.total(), std::accumulate(after.begin(), after.end(), qint64(0)));
    for (int i = 0; i < after.size(); ++i) {
        QCOMPARE(table.count(i), after[i]);
        QCOMPARE(table.name(i), "e" + std::to_string(i));
    }
}

// Whatever the order of steps, the total stays the sum of the counts.
void TestTallyTable::totalFollowsRandomSteps()
{
    QRandomGenerator rng(20261207);
    TallyTable table(100);
    for (int i = 0; i < 100; ++i)
        table.setEntry(i, "e", rng.bounded(-3, 4));
    for (int step = 0; step < 20000; ++step) {
        // One reset in 20 steps, otherwise as many adds as removes.
        const int i = rng.bounded(100);
        const int kind = rng.bounded(20);
        if (kind == 0)
            table.reset();
        else if (kind < 10)
            table.add(i);
        else
            table.remove(i);
        std::int64_t sum = 0;
        for (int slot = 0; slot < table.used(); ++slot)
            sum += table.count(slot);
        QCOMPARE(table.total(), sum);
    }
}

QTEST_GUILESS_MAIN(TestTallyTable)
#include "tst_tally_table.moc"
