#include "merge.h"

#include <QtTest>

using hostally::MergeResult;
using hostally::Tallies;

namespace {

// Tables written "North=4, South=0, West=-1 | Quiz=3, Relay=0": the leagues,
// then the events.
Tallies tallies(const QString &text)
{
    Tallies out;
    const QStringList tables = text.split('|');
    for (int t = 0; t < 2; ++t) {
        hostally::TallyTable &table = t == 0 ? out.leagues : out.events;
        const QStringList entries = tables.value(t).split(',', Qt::SkipEmptyParts);
        for (int i = 0; i < entries.size(); ++i) {
            const QStringList parts = entries[i].trimmed().split('=');
            table.setEntry(i, parts[0].toStdString(), parts[1].toLongLong());
        }
    }
    return out;
}

const char kBase[] = "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-2";

} // namespace

class TestMerge : public QObject {
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
};

void TestMerge::merge_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("merged"); // or "refused: why, league or event, line"

    auto row = [](const char *name, const char *base, const char *window, const char *file,
                   const char *merged) { QTest::newRow(name) << base << window << file << merged; };
    row("an unchanged file gives the window's counts", kBase,
        "North=5, South=0, West=-1 | Quiz=2, Relay=0, Darts=-3", kBase,
        "North=5, South=0, West=-1 | Quiz=2, Relay=0, Darts=-3");
    row("counts changed outside add up", kBase,
        "North=4, South=0, West=-1 | Quiz=4, Relay=0, Darts=-2",
        "North=9, South=0, West=-1 | Quiz=10, Relay=0, Darts=-2",
        "North=9, South=0, West=-1 | Quiz=11, Relay=0, Darts=-2");
    row("lines added and moved by hand keep their place", kBase,
        "North=4, South=0, West=-1 | Quiz=3, Relay=1, Darts=-2",
        "North=4, South=0, West=-1 | Film=2, Darts=-2, Relay=0, Quiz=3",
        "North=4, South=0, West=-1 | Film=2, Darts=-2, Relay=1, Quiz=3");
    row("a line deleted by hand that the window left alone", kBase,
        "North=4, South=0, West=-1 | Quiz=4, Relay=0, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=3, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=4, Darts=-2");
    row("a repeated name: the second is the second", "A=0, B=0, C=0 | Quiz=1, Quiz=2, Quiz=3",
        "A=0, B=0, C=0 | Quiz=1, Quiz=3, Quiz=3", "A=0, B=0, C=0 | Film=0, Quiz=5, Quiz=6",
        "A=0, B=0, C=0 | Film=0, Quiz=5, Quiz=7");
    row("Reset takes off the counts the window had read", kBase,
        "North=0, South=0, West=0 | Quiz=3, Relay=0, Darts=-2",
        "North=6, South=1, West=-1 | Quiz=3, Relay=0, Darts=-2",
        "North=2, South=1, West=0 | Quiz=3, Relay=0, Darts=-2");
    row("negative counts go lower", kBase, "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-4",
        "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-7",
        "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-9");
    row("a merged count may reach the limit", kBase,
        "North=4, South=0, West=-1 | Quiz=4, Relay=0, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=999999999999998, Relay=0, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=999999999999999, Relay=0, Darts=-2");
    row("refused: a changed line renamed by hand", kBase,
        "North=4, South=0, West=-1 | Quiz=3, Relay=1, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=3, Relay race=0, Darts=-2", "refused: NotInFile event 1");
    row("refused: a changed league renamed by hand", kBase,
        "North=4, South=0, West=0 | Quiz=3, Relay=0, Darts=-2",
        "North=4, South=0, East=-1 | Quiz=3, Relay=0, Darts=-2", "refused: NotInFile league 2");
    row("refused: fewer lines of a repeated name", "A=0, B=0, C=0 | Quiz=1, Quiz=2",
        "A=0, B=0, C=0 | Quiz=1, Quiz=3", "A=0, B=0, C=0 | Quiz=1", "refused: NotInFile event 1");
    row("refused: past the largest count", kBase,
        "North=4, South=0, West=-1 | Quiz=4, Relay=0, Darts=-2",
        "North=4, South=0, West=-1 | Quiz=999999999999999, Relay=0, Darts=-2",
        "refused: OutOfRange event 0");
    row("refused: past the most negative count", kBase,
        "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-3",
        "North=4, South=0, West=-1 | Quiz=3, Relay=0, Darts=-999999999999999",
        "refused: OutOfRange event 2");
}

void TestMerge::merge()
{
    QFETCH(QString, base);
    QFETCH(QString, window);
    QFETCH(QString, file);
    QFETCH(QString, merged);

    const MergeResult result
        = hostally::mergeTallies(tallies(base), tallies(window), tallies(file));
    if (merged.startsWith("refused: ")) {
        const QStringList why = merged.mid(9).split(' ');
        QVERIFY(!result.ok());
        QCOMPARE(
            result.refusal == MergeResult::Refusal::NotInFile ? "NotInFile" : "OutOfRange", why[0]);
        QCOMPARE(result.league ? "league" : "event", why[1]);
        QCOMPARE(result.line, why[2].toInt());
        const auto &table = result.league ? tallies(base).leagues : tallies(base).events;
        QCOMPARE(result.name, table.name(result.line));
    } else {
        QVERIFY(result.ok());
        QVERIFY(result.merged == tallies(merged));
    }
}

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"
