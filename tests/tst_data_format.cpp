#include "data_format.h"

#include <QtTest>

using namespace hostally;

namespace {

const QByteArray kExample = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n"
                            "\"Quiz\"\r\n3\r\n\"Relay\"\r\n1\r\n";
const QByteArray kLeaguesOnly = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n";

// A file written by save with `events` event records named E1, E2, ...
QByteArray fileWithEvents(int events)
{
    QByteArray text = kLeaguesOnly;
    for (int i = 1; i <= events; ++i)
        text += "\"E" + QByteArray::number(i) + "\"\r\n" + QByteArray::number(i % 7) + "\r\n";
    return text;
}

// The advice names the editor the system has.
const QString kUtf16Message
    = "the file is saved as UTF-16 (\"Unicode\"), which Hostally cannot read: open it in "
#ifdef Q_OS_WIN
      "Notepad, choose File > Save As, pick UTF-8 or ANSI under Encoding and save it again";
#else
      "a text editor and save it again with its \"Save as UTF-8\" choice (in some editors, Save "
      "As with UTF-8 as the encoding)";
#endif

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

} // namespace

class TestDataFormat : public QObject {
    Q_OBJECT

private slots:
    void accepts_data();
    void accepts();
    void rejects_data();
    void rejects();
    void failureLeavesTablesAlone();
    void writesExactBytes();
    void writesOnlyLeaguesForEmptyEvents();
    void truncatedFilesNeverCrash();
};

void TestDataFormat::accepts_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("eventsUsed");
    QTest::addColumn<qint64>("leagueTotal");
    QTest::addColumn<qint64>("eventTotal");

    QTest::newRow("example as save writes it")
        << kExample << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("leagues only") << kLeaguesOnly << kLeaguesOnly << 0 << qint64(11) << qint64(0);
    QTest::newRow("exactly 100 events")
        << fileWithEvents(100) << fileWithEvents(100) << 100 << qint64(11) << qint64(297);
    QTest::newRow("LF line ends") << QByteArray(kExample).replace("\r\n", "\n") << kExample << 2
                                  << qint64(11) << qint64(4);
    QTest::newRow("lone CR line ends")
        << QByteArray(kExample).replace("\r\n", "\r") << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("no line end after the last count")
        << kExample.chopped(2) << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("one-line records")
        << QByteArray("\"North\",4\r\n\"South\",0\r\n\"West\",7\r\n\"Quiz\",3\r\n\"Relay\",1\r\n")
        << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("spaces and tabs around fields")
        << QByteArray(" \"North\" \t\r\n\t4 \r\n\"South\" , 0\r\n\"West\"\r\n  7\t\r\n"
                      "\t\"Quiz\"\r\n3\r\n\"Relay\"\r\n1  ")
        << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("plus sign and leading zeros")
        << QByteArray("\"North\"\r\n+4\r\n\"South\"\r\n-0\r\n\"West\"\r\n007\r\n"
                      "\"Quiz\"\r\n3\r\n\"Relay\"\r\n1\r\n")
        << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("blank lines before, between and after records")
        << QByteArray("\r\n  \r\n\"North\"\r\n4\r\n\r\n\"South\"\r\n0\r\n\t\r\n\"West\"\r\n7\r\n"
                      "\r\n\"Quiz\"\r\n3\r\n\"Relay\"\r\n1\r\n\r\n\r\n   ")
        << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("UTF-8 byte-order mark at the start")
        << ("\xEF\xBB\xBF" + kExample) << kExample << 2 << qint64(11) << qint64(4);
    QTest::newRow("negative counts")
        << QByteArray("\"A\"\r\n-3\r\n\"B\"\r\n1\r\n\"C\"\r\n0\r\n\"D\"\r\n-1\r\n")
        << QByteArray("\"A\"\r\n-3\r\n\"B\"\r\n1\r\n\"C\"\r\n0\r\n\"D\"\r\n-1\r\n") << 1
        << qint64(-2) << qint64(-1);
    const QByteArray odd = "\"\"\r\n0\r\n\"A name of many characters\"\r\n10\r\n\"a, b\"\r\n2\r\n"
                           "\"Caf\xE9 \x01\x7F\xFF\"\r\n999999999999999\r\n"
                           "\" padded \"\r\n-999999999999999\r\n";
    QTest::newRow("empty, long, comma and 8-bit names; counts at the bound")
        << odd << odd << 2 << qint64(12) << qint64(0);
    const QByteArray mixed = "\"Caf\xC3\xA9\"\r\n1\r\n\"\xC3\x89mile \xC3\x85\xC3\x96\"\r\n2\r\n"
                             "\"Caf\xE9 \x80\"\r\n3\r\n\"\xE2\x80\x9CQuiz\xE2\x80\x9D\"\r\n4\r\n"
                             "\"Caf\xC3\"\r\n5\r\n";
    QTest::newRow("UTF-8, Windows-1252 and broken UTF-8 names kept byte for byte")
        << mixed << mixed << 2 << qint64(6) << qint64(9);
    QTest::newRow("UTF-8 names after a byte-order mark")
        << ("\xEF\xBB\xBF" + mixed) << mixed << 2 << qint64(6) << qint64(9);
}

void TestDataFormat::accepts()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, written);
    QFETCH(int, eventsUsed);
    QFETCH(qint64, leagueTotal);
    QFETCH(qint64, eventTotal);

    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status = parseDataFile(view(input), leagues, events);
    QVERIFY2(status.ok, status.toString().c_str());
    QCOMPARE(leagues.used(), 3);
    QCOMPARE(events.used(), eventsUsed);
    QCOMPARE(leagues.total(), leagueTotal);
    QCOMPARE(events.total(), eventTotal);
    QCOMPARE(QByteArray::fromStdString(formatDataFile(leagues, events)), written);

    // What save writes loads back to the same tables.
    TallyTable leagues2(kLeagueCapacity);
    TallyTable events2(kEventCapacity);
    QVERIFY(parseDataFile(view(written), leagues2, events2).ok);
    QVERIFY(leagues2 == leagues);
    QVERIFY(events2 == events);
}

void TestDataFormat::rejects_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty file") << QByteArray() << 1
                                << "the file is empty, expected three league records";
    QTest::newRow("only blank lines and a byte-order mark") << QByteArray(
        "\xEF\xBB\xBF\r\n \r\n") << 3 << "the file is empty, expected three league records";
    QTest::newRow("name without quotes")
        << QByteArray("North\r\n4\r\n") << 1
        << "expected the name of league 1 of 3 in double quotes, found North";
    QTest::newRow("unquoted name with a space and an accent in UTF-8")
        << (kLeaguesOnly + "Quiz Caf\xC3\xA9\r\n3\r\n") << 7
        << "expected the name of event 1 in double quotes, found Quiz Caf\u00E9";
    QTest::newRow("unquoted Windows-1252 name of 45 characters, cut after 40")
        << QByteArray("\xC9" + QByteArray(44, 'x') + "\r\n4\r\n") << 1
        << "expected the name of league 1 of 3 in double quotes, found \u00C9" + QString(39, 'x')
            + "...";
    QTest::newRow("unquoted name that reads as a number")
        << (kLeaguesOnly + "5\r\n4\r\n") << 7
        << "expected the name of event 1 in double quotes, found 5";
    QTest::newRow("line end inside a name")
        << QByteArray("\"North\"\r\n4\r\n\"So\r\nuth\"\r\n0\r\n") << 3
        << "expected a closing double quote, found end of line after \"So";
    QTest::newRow("name never closed")
        << QByteArray("\"North") << 1 << "expected a closing double quote, found end of file";
    QTest::newRow("text for a count") << (kLeaguesOnly + "\"Quiz\"\r\n3\r\n\"Relay\"\r\nabc\r\n")
                                      << 10 << "expected a count, found abc";
    QTest::newRow("fraction for a count")
        << QByteArray("\"North\"\r\n4.5\r\n") << 2 << "expected a count, found 4.5";
    QTest::newRow("two numbers for a count")
        << QByteArray("\"North\"\r\n4 5\r\n") << 2 << "expected a count, found 4 5";
    QTest::newRow("sign alone") << QByteArray("\"North\"\r\n-\r\n") << 2
                                << "expected a count, found -";
    QTest::newRow("empty count line")
        << QByteArray("\"North\"\r\n\r\n4\r\n") << 2 << "expected a count, found end of line";
    QTest::newRow("nothing after the comma")
        << QByteArray("\"North\",\r\n4\r\n") << 1 << "expected a count, found end of line";
    QTest::newRow("count past the bound")
        << QByteArray("\"North\"\r\n1000000000000000\r\n") << 2
        << "expected a count of at most 999999999999999 either way, found 1000000000000000";
    QTest::newRow("negative count past the bound")
        << QByteArray("\"North\"\r\n-99999999999999999999999\r\n") << 2
        << "expected a count of at most 999999999999999 either way, found "
           "-99999999999999999999999";
    QTest::newRow("NUL byte in a count")
        << QByteArray("\"North\"\r\n4\0\r\n", 12) << 2 << "expected a count, found 4\\x00";
    QTest::newRow("text after the name") << QByteArray(
        "\"North\" x\r\n4\r\n") << 1 << "expected a comma or a line end after the name, found x";
    QTest::newRow("comma after the count")
        << QByteArray("\"North\",4,\"South\",0\r\n") << 1
        << "expected a line end after the count, found ,\"South\",0";
    QTest::newRow("two league records")
        << kLeaguesOnly.left(kLeaguesOnly.lastIndexOf("\"West\"")) << 5
        << "expected the name of league 3 of 3, found end of file";
    QTest::newRow("league name without a count")
        << QByteArray("\"North\"\r\n") << 2 << "expected a count, found end of file";
    QTest::newRow("event record with a name but no count")
        << (kLeaguesOnly + "\"Quiz\"\r\n3\r\n\"Relay\"\r\n") << 10
        << "expected a count, found end of file";
    QTest::newRow("101 event records") << fileWithEvents(
        101) << 207 << "expected the end of the file after 100 event records, found a 101st record";
    QTest::newRow("UTF-16, little-endian, as Notepad saves \"Unicode\"")
        << QByteArray("\xFF\xFE\"\0N\0\"\0\r\0\n\0", 12) << 0 << kUtf16Message;
    QTest::newRow("UTF-16, big-endian")
        << QByteArray("\xFE\xFF\0\"\0N\0\"\0\r\0\n", 12) << 0 << kUtf16Message;
    QTest::newRow("quote inside a quoted name")
        << QByteArray("\"Nor\"th\"\r\n4\r\n") << 1
        << "expected a comma or a line end after the name, found th\" (a name cannot hold a "
           "double quote)";
}

void TestDataFormat::rejects()
{
    QFETCH(QByteArray, input);
    QFETCH(int, line);
    QFETCH(QString, message);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status = parseDataFile(view(input), leagues, events);
    QVERIFY(!status.ok);
    QCOMPARE(QString::fromStdString(status.message), message);
    QCOMPARE(status.line, line);
}

void TestDataFormat::failureLeavesTablesAlone()
{
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    QVERIFY(parseDataFile(view(kExample), leagues, events).ok);
    const TallyTable leaguesBefore = leagues;
    const TallyTable eventsBefore = events;
    // Fails only at the last record, after both tables would have been filled.
    QVERIFY(
        !parseDataFile(view(kLeaguesOnly + "\"Other\"\r\n1\r\n\"Bad\"\r\nx\r\n"), leagues, events)
             .ok);
    QVERIFY(leagues == leaguesBefore);
    QVERIFY(events == eventsBefore);
}

void TestDataFormat::writesExactBytes()
{
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    leagues.setEntry(0, "North", 4);
    leagues.setEntry(1, "South", 0);
    leagues.setEntry(2, "West", 7);
    events.setEntry(0, "Quiz", 3);
    events.setEntry(1, "Relay", 1);
    events.add(0);
    leagues.remove(2);
    QCOMPARE(QByteArray::fromStdString(formatDataFile(leagues, events)),
        QByteArray("\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n6\r\n"
                   "\"Quiz\"\r\n4\r\n\"Relay\"\r\n1\r\n"));
}

void TestDataFormat::writesOnlyLeaguesForEmptyEvents()
{
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    QVERIFY(parseDataFile(view(kLeaguesOnly), leagues, events).ok);
    const QByteArray written = QByteArray::fromStdString(formatDataFile(leagues, events));
    QCOMPARE(written, kLeaguesOnly);
    QCOMPARE(written.count("\r\n"), 6);
}

// Every prefix of a good file either loads or fails with a line inside it.
void TestDataFormat::truncatedFilesNeverCrash()
{
    const QByteArray full = "\xEF\xBB\xBF" + kExample;
    for (int n = 0; n <= full.size(); ++n) {
        const QByteArray prefix = full.left(n);
        TallyTable leagues(kLeagueCapacity);
        TallyTable events(kEventCapacity);
        const Status status = parseDataFile(view(prefix), leagues, events);
        if (status.ok) {
            QVERIFY2(prefix.endsWith("\"Relay\"\r\n1") || prefix.endsWith("\"Relay\"\r\n1\r")
                    || prefix.endsWith("\"Relay\"\r\n1\r\n") || prefix.endsWith("\"Quiz\"\r\n3\r\n")
                    || prefix.endsWith("\"Quiz\"\r\n3") || prefix.endsWith("\"Quiz\"\r\n3\r")
                    || prefix.endsWith("\"West\"\r\n7\r\n") || prefix.endsWith("\"West\"\r\n7")
                    || prefix.endsWith("\"West\"\r\n7\r"),
                prefix.constData());
        } else {
            QVERIFY(status.line >= 1);
            const int lineEnds = prefix.count('\n') + (prefix.endsWith('\r') ? 1 : 0);
            QVERIFY(status.line <= lineEnds + 1);
        }
    }
}

QTEST_GUILESS_MAIN(TestDataFormat)
#include "tst_data_format.moc"
