#include "merge.h"

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
