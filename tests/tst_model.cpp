// Drives the real window with long random sequences of the user's commands and
// checks it, after every step, against a plain model of the two tallies.
#include "data_format.h"
#include "fake_dialogs.h"
#include "main_form.h"
#include "start_up.h"
#include "window_helpers.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int kStepsPerSeed = 1000;

// What the user should see and have, worked out without the program's code.
struct ModelColumn {
    std::vector<std::pair<QByteArray, qint64>> entries;
    int selected = -1;

    qint64 total() const
    {
        qint64 sum = 0;
        for (const auto &e : entries)
            sum += e.second;
        return sum;
    }

    // A name is shown as UTF-8 when it decodes as UTF-8 and is not plain
    // ASCII; otherwise byte by byte (randomName() only uses bytes that
    // Windows-1252 and Latin-1 show alike).
    static QString shown(const QByteArray &name)
    {
        // Stateless, so a name ending in a lone lead byte is an error rather
        // than the start of a character still to come.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8(name);
        const bool ascii = std::all_of(
            name.cbegin(), name.cend(), [](char c) { return static_cast<uchar>(c) < 0x80; });
        return !utf8.hasError() && !ascii ? decoded : QString::fromLatin1(name);
    }

    QStringList lines() const
    {
        QStringList out;
        for (const auto &[name, count] : entries) {
            QString line = shown(name);
            while (line.size() < 13)
                line += ' ';
            line += '-';
            line += (count < 0 ? "-" : " ") + QString::number(qAbs(count));
            out.append(line);
        }
        return out;
    }

    QString totalLine() const
    {
        const qint64 t = total();
        return QStringLiteral("Total Hosted: ") + (t < 0 ? "-" : " ") + QString::number(qAbs(t));
    }
};

struct Model {
    ModelColumn leagues;
    ModelColumn events;
    bool changed = false;

    QByteArray file() const
    {
        QByteArray out;
        for (const ModelColumn *c : {&leagues, &events}) {
            for (const auto &[name, count] : c->entries)
                out += '"' + name + "\"\r\n" + QByteArray::number(count) + "\r\n";
        }
        return out;
    }
};

// ASCII, single 8-bit bytes that Windows-1252 shows as Latin-1 does, and
// UTF-8 characters made of such bytes: a name may read either way.
QByteArray randomName(QRandomGenerator &rng)
{
    static const QByteArray alphabet = "abcdefgh XYZ,.-+0123456789\xA0\xE9\xFF";
    static const QByteArray utf8[] = {"\xC3\xA9", "\xC3\xBF"};
    const bool mostlyUtf8 = rng.bounded(2) == 0;
    QByteArray name;
    const int length = rng.bounded(0, 17);
    for (int i = 0; i < length; ++i) {
        if (mostlyUtf8 && rng.bounded(4) == 0)
            name += utf8[rng.bounded(2)];
        else
            name += alphabet.at(rng.bounded(alphabet.size() - (mostlyUtf8 ? 3 : 0)));
    }
    return name;
}

qint64 randomCount(QRandomGenerator &rng)
{
    switch (rng.bounded(6)) {
    case 0:
        return hostally::kCountLimit - rng.bounded(2);
    case 1:
        return -hostally::kCountLimit + rng.bounded(2);
    default:
        return rng.bounded(-3, 6);
    }
}

} // namespace

class TestModel : public QObject {
    Q_OBJECT

private slots:
    void randomCommands_data();
    void randomCommands();

private:
    void openWindow();
    QStringList shown() const;
    QStringList expected() const;

    QString m_path;
    FakeDialogs m_dialogs;
    std::unique_ptr<MainForm> m_form;
    Model m_model;
};

void TestModel::openWindow()
{
    m_form = openMainForm(m_path, &m_dialogs);
    QVERIFY(m_form);
    QVERIFY(showActive(m_form.get()));
}

// Each column's lines, total and selected line, and whether anything
// changed: as the window shows them, and as the model says they should be.
QStringList TestModel::shown() const
{
    QStringList out;
    for (auto [list, total] :
        {std::pair {m_form->lHosted, m_form->total}, {m_form->lLeagues, m_form->total2}})
        out << lines(list) << total->text() << QString::number(selectedRow(list));
    return out << QString::number(m_form->isChanged());
}

QStringList TestModel::expected() const
{
    QStringList out;
    for (const ModelColumn *column : {&m_model.events, &m_model.leagues})
        out << column->lines() << column->totalLine() << QString::number(column->selected);
    return out << QString::number(m_model.changed);
}

void TestModel::randomCommands_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void TestModel::randomCommands()
{
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    m_path = dir.filePath("data.txt");
    m_dialogs = FakeDialogs();
    m_model = Model();

    for (int i = 0; i < 3; ++i)
        m_model.leagues.entries.emplace_back(randomName(rng), randomCount(rng));
    const int events = rng.bounded(0, 13);
    for (int i = 0; i < events; ++i)
        m_model.events.entries.emplace_back(randomName(rng), randomCount(rng));
    QVERIFY(writeAll(m_path, m_model.file()));
    openWindow();
    QCOMPARE(shown(), expected());

    int saves = 0;
    for (int step = 0; step < kStepsPerSeed; ++step) {
        const bool onEvents = rng.bounded(2) == 0;
        ModelColumn &column = onEvents ? m_model.events : m_model.leagues;
        QListWidget *list = onEvents ? m_form->lHosted : m_form->lLeagues;
        const int rows = static_cast<int>(column.entries.size());
        QString what;
        const int choice = rng.bounded(100);

        if (choice < 30) {
            // Click a line, Ctrl+click the selected one, or click the blank
            // space below the lines: only another line changes the selection.
            if (rows == 0)
                continue;
            const int row = rng.bounded(rows);
            list->scrollToItem(list->item(row));
            const bool ctrl = row == column.selected && rng.bounded(3) == 0;
            const QRect last = list->visualItemRect(list->item(rows - 1));
            const bool blank
                = !ctrl && rng.bounded(4) == 0 && last.bottom() + 3 < list->viewport()->height();
            QTest::mouseClick(list->viewport(), Qt::LeftButton,
                ctrl ? Qt::ControlModifier : Qt::NoModifier,
                blank ? QPoint(10, last.bottom() + 3)
                      : list->visualItemRect(list->item(row)).center());
            if (!blank)
                column.selected = row;
            what = blank
                ? QStringLiteral("click below the lines")
                : QStringLiteral("%1 line %2").arg(ctrl ? "ctrl-click" : "select").arg(row);
        } else if (choice < 75) {
            const bool add = choice < 55;
            QPushButton *button = onEvents ? (add ? m_form->Command1 : m_form->Command2)
                                           : (add ? m_form->ladd : m_form->lRemove);
            QTest::mouseClick(button, Qt::LeftButton);
            m_model.changed = true;
            const int i = column.selected;
            if (i != -1) {
                qint64 &count = column.entries[i].second;
                if (add && count < hostally::kCountLimit)
                    ++count;
                else if (!add && count != 0 && count > -hostally::kCountLimit)
                    --count;
            }
            column.selected = i != -1 ? i : (rows > 0 ? 0 : -1);
            what = button->objectName();
        } else if (choice < 83) {
            const bool yes = rng.bounded(2) == 0;
            m_dialogs.answers = {yes};
            QTest::mouseClick(onEvents ? m_form->Command3 : m_form->cReset, Qt::LeftButton);
            m_model.changed = true;
            if (yes) {
                for (auto &entry : column.entries)
                    entry.second = 0;
                column.selected = -1;
            }
            what = QStringLiteral("reset answered %1").arg(yes ? "Yes" : "No");
        } else if (choice < 93) {
            m_form->mSave->trigger();
            m_model.changed = false;
            ++saves;
            what = QStringLiteral("save");
        } else {
            const bool yes = rng.bounded(2) == 0;
            m_dialogs.answers = {yes};
            const bool asks = m_model.changed;
            m_form->mQuit->trigger();
            QVERIFY(!m_form->isVisible());
            // The user starts the program again: it shows what the file holds.
            const QByteArray onDisk = readAll(m_path);
            if (asks && yes)
                QCOMPARE(onDisk, m_model.file());
            hostally::TallyTable leagues(hostally::kLeagueCapacity);
            hostally::TallyTable events(hostally::kEventCapacity);
            QVERIFY(hostally::parseDataFile(
                std::string_view(onDisk.constData(), onDisk.size()), leagues, events)
                        .ok);
            m_model.leagues.entries.clear();
            m_model.events.entries.clear();
            for (int i = 0; i < leagues.used(); ++i)
                m_model.leagues.entries.emplace_back(
                    QByteArray::fromStdString(leagues.name(i)), leagues.count(i));
            for (int i = 0; i < events.used(); ++i)
                m_model.events.entries.emplace_back(
                    QByteArray::fromStdString(events.name(i)), events.count(i));
            m_model.changed = false;
            m_model.leagues.selected = m_model.events.selected = -1;
            m_form.reset();
            openWindow();
            what = QStringLiteral("quit answered %1").arg(yes ? "Yes" : "No");
        }

        QVERIFY2(shown() == expected(),
            qPrintable(QStringLiteral("seed %1 step %2: %3\nwindow: %4\nmodel:  %5")
                           .arg(seed)
                           .arg(step)
                           .arg(what, shown().join(" | "), expected().join(" | "))));
        if (what == "save")
            QCOMPARE(readAll(m_path), m_model.file());
    }
    QVERIFY(m_dialogs.unexpectedQuestions.isEmpty());
    QVERIFY(saves > 0);
    m_form.reset();
}

QTEST_MAIN(TestModel)
#include "tst_model.moc"
