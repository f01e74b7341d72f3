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
      "a text editor and save it again with its \"Save as UTF-8\" choice (in some editors, "
      "Save As with UTF-8 as the encoding)";
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
    void truncatedFilesNeverCrash();
};

void TestDataFormat::accepts_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("eventsUsed");
    QTest::addColumn<qint64>("leagueTotal");
    QTest::addColumn<qint64>("eventTotal");

    // Most rows are the example in another form: written back as save writes it.
    auto row = [](const char *name, const QByteArray &input, const QByteArray &written = kExample,
                   int eventsUsed = 2, qint64 leagueTotal = 11, qint64 eventTotal = 4) {
        QTest::newRow(name) << input << written << eventsUsed << leagueTotal << eventTotal;
    };
    row("example as save writes it", kExample);
    row("leagues only", kLeaguesOnly, kLeaguesOnly, 0, 11, 0);
    row("exactly 100 events", fileWithEvents(100), fileWithEvents(100), 100, 11, 297);
    row("LF line ends", QByteArray(kExample).replace("\r\n", "\n"));
    row("lone CR line ends", QByteArray(kExample).replace("\r\n", "\r"));
    row("no line end after the last count", kExample.chopped(2));
    row("one-line records",
        "\"North\",4\r\n\"South\",0\r\n\"West\",7\r\n\"Quiz\",3\r\n\"Relay\",1\r\n");
    row("spaces and tabs around fields",
        " \"North\" \t\r\n\t4 \r\n\"South\" , 0\r\n\"West\"\r\n  7\t\r\n"
        "\t\"Quiz\"\r\n3\r\n\"Relay\"\r\n1  ");
    row("plus sign and leading zeros",
        "\"North\"\r\n+4\r\n\"South\"\r\n-0\r\n\"West\"\r\n007\r\n"
        "\"Quiz\"\r\n3\r\n\"Relay\"\r\n1\r\n");
    row("blank lines before, between and after records",
        "\r\n  \r\n\"North\"\r\n4\r\n\r\n\"South\"\r\n0\r\n\t\r\n\"West\"\r\n7\r\n"
        "\r\n\"Quiz\"\r\n3\r\n\"Relay\"\r\n1\r\n\r\n\r\n   ");
    row("UTF-8 byte-order mark at the start, kept", "\xEF\xBB\xBF" + kExample,
        "\xEF\xBB\xBF" + kExample);
    const QByteArray negative = "\"A\"\r\n-3\r\n\"B\"\r\n1\r\n\"C\"\r\n0\r\n\"D\"\r\n-1\r\n";
    row("negative counts", negative, negative, 1, -2, -1);
    const QByteArray odd = "\"\"\r\n0\r\n\"A name of many characters\"\r\n10\r\n\"a, b\"\r\n2\r\n"
                           "\"Caf\xE9 \x01\x7F\xFF\"\r\n999999999999999\r\n"
                           "\" padded \"\r\n-999999999999999\r\n";
    row("empty, long, comma and 8-bit names; counts at the bound", odd, odd, 2, 12, 0);
    const QByteArray mixed = "\"Caf\xC3\xA9\"\r\n1\r\n\"\xC3\x89mile \xC3\x85\xC3\x96\"\r\n2\r\n"
                             "\"Caf\xE9 \x80\"\r\n3\r\n\"\xE2\x80\x9CQuiz\xE2\x80\x9D\"\r\n4\r\n"
                             "\"Caf\xC3\"\r\n5\r\n";
    row("UTF-8, Windows-1252 and broken UTF-8 names kept byte for byte", mixed, mixed, 2, 6, 9);
    row("UTF-8 names after a byte-order mark", "\xEF\xBB\xBF" + mixed, "\xEF\xBB\xBF" + mixed, 2, 6,
        9);
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
    // Written with a byte-order mark when asked for, as save does for a file
    // that had one.
    const bool mark = input.startsWith("\xEF\xBB\xBF");
    QCOMPARE(QByteArray::fromStdString(formatDataFile(leagues, events, mark)), written);

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

    auto row = [](const char *name, const QByteArray &input, int line, const QString &message) {
        QTest::newRow(name) << input << line << message;
    };
    const QString count = "expected a count, found ";
    const QString bound = "expected a count from -999999999999999 to 999999999999999, found ";
    row("empty file", "", 1, "the file is empty, expected three league records");
    row("only blank lines and a byte-order mark", "\xEF\xBB\xBF\r\n \r\n", 3,
        "the file is empty, expected three league records");
    row("name without quotes", "North\r\n4\r\n", 1,
        "expected the name of league 1 of 3 in double quotes, found North");
    row("unquoted name with a space and an accent in UTF-8",
        kLeaguesOnly + "Quiz Caf\xC3\xA9\r\n3\r\n", 7,
        "expected the name of event 1 in double quotes, found Quiz Caf\u00E9");
    row("unquoted Windows-1252 name of 45 characters, cut after 40",
        "\xC9" + QByteArray(44, 'x') + "\r\n4\r\n", 1,
        "expected the name of league 1 of 3 in double quotes, found \u00C9" + QString(39, 'x')
            + "...");
    row("unquoted name that reads as a number", kLeaguesOnly + "5\r\n4\r\n", 7,
        "expected the name of event 1 in double quotes, found 5");
    row("line end inside a name", "\"North\"\r\n4\r\n\"So\r\nuth\"\r\n0\r\n", 3,
        "expected a closing double quote, found end of line after \"So");
    row("name never closed", "\"North", 1, "expected a closing double quote, found end of file");
    row("text for a count", kLeaguesOnly + "\"Quiz\"\r\n3\r\n\"Relay\"\r\nabc\r\n", 10,
        count + "abc");
    row("fraction for a count", "\"North\"\r\n4.5\r\n", 2, count + "4.5");
    row("two numbers for a count", "\"North\"\r\n4 5\r\n", 2, count + "4 5");
    row("sign alone", "\"North\"\r\n-\r\n", 2, count + "-");
    row("empty count line", "\"North\"\r\n\r\n4\r\n", 2, count + "end of line");
    row("nothing after the comma", "\"North\",\r\n4\r\n", 1, count + "end of line");
    row("count past the bound", "\"North\"\r\n1000000000000000\r\n", 2, bound + "1000000000000000");
    row("negative count past the bound", "\"North\"\r\n-99999999999999999999999\r\n", 2,
        bound + "-99999999999999999999999");
    row("NUL byte in a count", QByteArray("\"North\"\r\n4\0\r\n", 12), 2, count + "4\\x00");
    row("text after the name", "\"North\" x\r\n4\r\n", 1,
        "expected a comma or a line end after the name, found x");
    row("comma after the count", "\"North\",4,\"South\",0\r\n", 1,
        "expected a line end after the count, found ,\"South\",0");
    row("two league records", kLeaguesOnly.left(kLeaguesOnly.lastIndexOf("\"West\"")), 5,
        "expected the name of league 3 of 3, found end of file");
    row("league name without a count", "\"North\"\r\n", 2, count + "end of file");
    row("event record with a name but no count", kLeaguesOnly + "\"Quiz\"\r\n3\r\n\"Relay\"\r\n",
        10, count + "end of file");
    row("101 event records", fileWithEvents(101), 207,
        "expected the end of the file after 100 event records, found a 101st record");
    row("UTF-16, little-endian, as Notepad saves \"Unicode\"",
        QByteArray("\xFF\xFE\"\0N\0\"\0\r\0\n\0", 12), 0, kUtf16Message);
    row("UTF-16, big-endian", QByteArray("\xFE\xFF\0\"\0N\0\"\0\r\0\n", 12), 0, kUtf16Message);
    row("UTF-16, little-endian, without a byte-order mark", QByteArray("\"\0N\0\"\0\r\0\n\0", 10),
        0, kUtf16Message);
    row("UTF-16, big-endian, without a byte-order mark", QByteArray("\0\"\0N\0\"\0\r\0\n", 10), 0,
        kUtf16Message);
    row("NUL bytes only, as a crash can leave", QByteArray(4, '\0'), 1,
        "expected the name of league 1 of 3 in double quotes, found \\x00\\x00\\x00\\x00");
    row("quote inside a quoted name", "\"Nor\"th\"\r\n4\r\n", 1,
        "expected a comma or a line end after the name, found th\" (a name cannot hold a "
        "double quote)");
}

void TestDataFormat::rejects()
{
    QFETCH(QByteArray, input);
    QFETCH(int, line);
    QFETCH(QString, message);
    // Tables already filled, as a window's are: a failure leaves them alone.
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    QVERIFY(parseDataFile(view(kExample), leagues, events).ok);
    const TallyTable leaguesBefore = leagues;
    const TallyTable eventsBefore = events;
    const Status status = parseDataFile(view(input), leagues, events);
    QVERIFY(!status.ok);
    QCOMPARE(QString::fromStdString(status.message), message);
    QCOMPARE(status.line, line);
    QVERIFY(leagues == leaguesBefore);
    QVERIFY(events == eventsBefore);
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
            // Only right after a whole record: West's, Quiz's or Relay's count.
            static const QRegularExpression record(
                R"("(West"\r\n7|Quiz"\r\n3|Relay"\r\n1)\r?\n?$)");
            QVERIFY2(record.match(QString::fromLatin1(prefix)).hasMatch(), prefix.constData());
        } else {
            QVERIFY(status.line >= 1);
            const int lineEnds = prefix.count('\n') + (prefix.endsWith('\r') ? 1 : 0);
            QVERIFY(status.line <= lineEnds + 1);
        }
    }
}

QTEST_GUILESS_MAIN(TestDataFormat)
#include "tst_data_format.moc"
