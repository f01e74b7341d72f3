#include "dialogs.h"
#include "fake_dialogs.h"
#include "file_io.h"
#include "fitted_font.h"
#include "fitting_label.h"
#include "main_form.h"
#include "messages.h"
#include "recovery_file.h"
#include "start_up.h"
#include "tally_list.h"
#include "window_helpers.h"
#include "windows1252.h"

#include <QAccessible>
#include <QBackingStore>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

// To see the window's pixels as the window system gets them.
#include <qpa/qplatformbackingstore.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using hostally::TallyTable;
using Replies = QList<FakeDialogs::Reply>;
constexpr Dialogs::Answer kBack = Dialogs::Answer::Back;

namespace {

// Leagues: a positive, a zero and a negative count; events the same and one more.
const QByteArray kData = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n-1\r\n"
                         "\"Quiz\"\r\n3\r\n\"Relay\"\r\n0\r\n\"Darts\"\r\n-2\r\n"
                         "\"A long event name\"\r\n1\r\n";
const QByteArray kLeaguesOnly = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n-1\r\n";

const QString kSaveQuestion
    = QStringLiteral("ask|Save your changes?|Save|default Yes|Escape goes back");
const QString kSaved = QStringLiteral("inform|Saved|Saved");
const QString kResetQuestion = QStringLiteral(
    "ask|Are you sure you wish to erase your stats?|Confirm|default No|Escape answers No");

// The window's controls as the layout places them, with their captions,
// fonts, and what a screen reader calls them.
struct Control {
    QString name, className, caption;
    QRect twips;
    qreal points;
    bool bold;
    QString spoken;
};
const Control kControls[] = {
    {"lHosted", "QListWidget", "", {120, 1080, 2775, 3570}, 9.75, false, "Events"},
    {"Label1", "QLabel", "Choose an event:", {240, 120, 2655, 255}, 9.75, true, "Choose an event:"},
    {"Command1", "QPushButton", "Add", {120, 480, 855, 375}, 9.75, false, "Add event"},
    {"Command2", "QPushButton", "Remove", {1080, 480, 855, 375}, 9.75, false, "Remove event"},
    {"Command3", "QPushButton", "Reset", {2040, 480, 855, 375}, 9.75, false, "Reset events"},
    {"total", "QLabel", "Total Hosted:  2", {120, 4800, 2775, 375}, 12, false,
        "Total events hosted: 2"},
    {"lLeagues", "QListWidget", "", {3360, 1080, 2775, 645}, 9.75, false, "Leagues"},
    {"total2", "QLabel", "Total Hosted:  3", {3360, 1920, 2775, 375}, 12, false,
        "Total leagues hosted: 3"},
    {"Label2", "QLabel", "Choose a league:", {3360, 120, 2175, 255}, 9.75, true,
        "Choose a league:"},
    {"ladd", "QPushButton", "Add", {3360, 480, 855, 375}, 9.75, false, "Add league"},
    {"lRemove", "QPushButton", "Remove", {4320, 480, 855, 375}, 9.75, false, "Remove league"},
    {"cReset", "QPushButton", "Reset", {5280, 480, 975, 375}, 9.75, false, "Reset leagues"},
    {"About", "QGroupBox", "About", {3120, 2640, 3255, 2055}, 9.75, false, "About"},
    {"Text1", "QPlainTextEdit", "", {120, 240, 2895, 1575}, 9.75, false, "About Hostally"},
};

// A list's lines read as a screen reader connecting now would. (Without a
// reader Qt does not update the row interfaces it has already made, so start
// afresh.)
QStringList spokenLines(QListWidget *list)
{
    QStringList out;
    QAccessible::deleteAccessibleInterface(
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(list)));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
    for (int i = 0; iface && i < iface->childCount(); ++i)
        out.append(iface->child(i)->text(QAccessible::Name));
    return out;
}

// Unsaved counts of 14 March 2026, 21:30 on kData: Quiz counted from 3 to 5.
hostally::Recovery quizRecovery(hostally::Resets resets = {})
{
    hostally::Recovery recovery;
    recovery.id = "0123456789abcdef";
    recovery.writtenMs = QDateTime(QDate(2026, 3, 14), QTime(21, 30)).toMSecsSinceEpoch();
    hostally::Tallies base;
    hostally::parseDataFile(kData.toStdString(), base.leagues, base.events);
    hostally::Tallies window = base;
    if (resets.leagues)
        window.leagues.reset();
    window.events.add(0);
    window.events.add(0);
    recovery.batch = hostally::diff(base, window, resets);
    return recovery;
}

// This computer's first recovery file beside `dataPath`.
QString recoveryFile(const QString &dataPath)
{
    return hostally::recoveryFilePath(dataPath, hostally::thisComputer().id, 1);
}

QStringList tableLines(const TallyTable &table)
{
    QStringList out;
    for (int i = 0; i < table.used(); ++i)
        out.append(QString::fromLatin1(table.entryLine(i)));
    return out;
}

// One of the twin columns, found by the names of its controls.
struct ColumnControls {
    TallyList *list;
    QPushButton *add;
    QPushButton *remove;
    QPushButton *reset;
    QLabel *total;
    const TallyTable *table;
};

ColumnControls columnOf(MainForm &form, const QString &which)
{
    if (which == "events")
        return {form.lHosted, form.Command1, form.Command2, form.Command3, form.total,
            &form.eventTable()};
    return {form.lLeagues, form.ladd, form.lRemove, form.cReset, form.total2, &form.leagueTable()};
}

// Paints selected and hovered rows pale blue whatever the palette says, as
// Windows' visual styles do.
class PaleSelectionStyle : public QProxyStyle {
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget) const override
    {
        if (element == PE_PanelItemViewItem && option->state & (State_Selected | State_MouseOver))
            painter->fillRect(option->rect, QColor(0xBEDEFD));
        else
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// How often each colour shows in `rect` of `image`.
QHash<QRgb, int> coloursIn(const QImage &image, const QRect &rect)
{
    QHash<QRgb, int> seen;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++seen[image.pixel(x, y)];
    return seen;
}

// The colour seen most often: a line's paper.
QColor commonest(const QHash<QRgb, int> &seen)
{
    return QColor(seen.key(*std::max_element(seen.cbegin(), seen.cend())));
}

// In percent, how many pixels along an edge of `r` (0 top, 1 bottom, 2 left,
// 3 right) `ink` accepts, leaving `margin` pixels out at either end.
template<typename Ink>
int edgeShare(const QImage &image, const QRect &r, int edge, int margin, Ink ink)
{
    const QPoint step = edge < 2 ? QPoint(1, 0) : QPoint(0, 1);
    const QPoint corners[] = {r.topLeft(), r.bottomLeft(), r.topLeft(), r.topRight()};
    QPoint at = corners[edge] + step * margin;
    const int length = (edge < 2 ? r.width() : r.height()) - 2 * margin;
    int hits = 0;
    for (int i = 0; i < length; ++i, at += step)
        hits += ink(QColor(image.pixel(at)));
    return length > 0 ? 100 * hits / length : 0;
}

// `rect`, in a widget's pixels, in the device pixels of its grabbed image.
QRect onDevice(const QRect &rect, qreal ratio)
{
    return QRectF(QPointF(rect.topLeft()) * ratio, QSizeF(rect.size()) * ratio).toRect();
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowAndMenu();
    void framesAreWhole();
    void startUp();
    void noEvents_data();
    void noEvents();
    void startUpFailureShowsNoWindow_data();
    void startUpFailureShowsNoWindow();
    void listLines_data();
    void listLines();
    void namesInCodePage_data();
    void namesInCodePage();
    void totalsFitTheirLabels_data();
    void totalsFitTheirLabels();

    void stepCommand_data();
    void stepCommand();
    void keys_data();
    void keys();
    void selectedLineReads_data();
    void selectedLineReads();
    void resetCommand_data();
    void resetCommand();

    void quit_data();
    void quit();
    void saveMergesOutsideChanges_data();
    void saveMergesOutsideChanges();
    void recoveryFileFollowsChanges_data();
    void recoveryFileFollowsChanges();
    void unsavedCountsOfferedAtStart_data();
    void unsavedCountsOfferedAtStart();
    void conflictCopiesAtStart_data();
    void conflictCopiesAtStart();
    void messageBoxes_data();
    void messageBoxes();
    void messages_data();
    void messages();

    void iconIsTheInstalledImage();
    void windowFontByDefaultChangesNothingShown();
    void currentLineShowsFocus_data();
    void currentLineShowsFocus();
    void archiverFolders_data();
    void archiverFolders();

private:
    MainForm &open(const QByteArray &data = kData);
    bool place(const QString &folder, const QByteArray &data);
    void act(MainForm &form, const QString &step);
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    QTemporaryDir *m_dir = nullptr;
    QString m_path;
    FakeDialogs m_dialogs;
    std::unique_ptr<MainForm> m_form;
};

void TestMainForm::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath("data.txt");
    m_dialogs = FakeDialogs();
}

void TestMainForm::cleanup()
{
    m_form.reset();
    delete m_dir;
    m_dir = nullptr;
    QVERIFY2(m_dialogs.unexpectedQuestions.isEmpty(),
        qPrintable(m_dialogs.unexpectedQuestions.join("; ")));
}

MainForm &TestMainForm::open(const QByteArray &data)
{
    if (!writeAll(m_path, data))
        qFatal("cannot write %s", qPrintable(m_path));
    m_form = openMainForm(m_path, &m_dialogs);
    if (!m_form)
        qFatal("start-up failed: %s", qPrintable(m_dialogs.log().join("; ")));
    if (!showActive(m_form.get()))
        qWarning("window did not become active");
    m_form->startUp(); // as the first paint would
    return *m_form;
}

// data.txt in `folder` of the test's own, holding `data` unless that is "<missing>".
bool TestMainForm::place(const QString &folder, const QByteArray &data)
{
    m_path = QDir(m_dir->filePath(folder)).filePath("data.txt");
    return QDir().mkpath(QFileInfo(m_path).path())
        && (data == "<missing>" || writeAll(m_path, data));
}

// One of the user's steps (or the world's), as the rows name them.
void TestMainForm::act(MainForm &form, const QString &step)
{
    if (step == "add")
        form.lHosted->setCurrentRow(0);
    const QMap<QString, QPushButton *> buttons {{"add", form.Command1}, {"remove", form.Command2},
        {"reset", form.Command3}, {"reset leagues", form.cReset}};
    if (buttons.contains(step))
        click(buttons[step]);
    if (step == "gone") // the folder moved elsewhere, with the file
        QVERIFY(QDir(m_dir->path()).removeRecursively());
    if (step == "written")
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recoveryFile(m_path)), 2000);
    if (step == "wait")
        QTest::qWait(1500);
    if (step == "unwritable")
        hostally::setFileHookForTesting(
            [](hostally::FileStep, const QString &) { return hostally::Injected::Fail; });
    if (step == "save")
        form.mSave->trigger();
    if (step == "session-end")
        form.endSession();
    if (step == "called-off")
        form.sessionEndCalledOff();
    if (step == "click")
        QTest::mouseClick(form.lHosted->viewport(), Qt::LeftButton);
    if (step == "quit-no") {
        m_dialogs.answers = {false};
        form.mQuit->trigger();
    }
    if (step == "close")
        form.close();
}

void TestMainForm::controls_data()
{
    QTest::addColumn<int>("i"); // in kControls
    for (int i = 0; i < int(std::size(kControls)); ++i)
        QTest::newRow(qPrintable(kControls[i].name)) << i;
}

// Each control where the layout puts it, in its font, read as it shows.
void TestMainForm::controls()
{
    QFETCH(int, i);
    const auto [name, className, caption, twips, points, bold, spoken] = kControls[i];
    MainForm &form = open();
    auto *widget = form.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className);
    QCOMPARE(widget->geometry(),
        QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(widget->font().families().value(0), QStringLiteral("Lucida Console"));
    if (!qobject_cast<QListWidget *>(widget))
        QCOMPARE(widget->font().pointSizeF(), points);
    QCOMPARE(widget->font().bold(), bold);
    // Fixed pitch, so that the lists line up their "-" whatever the letters.
    QVERIFY(QFontInfo(widget->font()).fixedPitch());
    const QFontMetrics metrics(widget->font());
    QCOMPARE(
        metrics.horizontalAdvance("iiiiiiiiiiiii"), metrics.horizontalAdvance("WWWWWWWWWWWWW"));

    // A label's or a button's text, a frame's title; lists and the text box have none.
    QCOMPARE(
        widget->property(qobject_cast<QGroupBox *>(widget) ? "title" : "text").toString(), caption);
    if (auto *list = qobject_cast<QListWidget *>(widget)) {
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!list->isSortingEnabled());
        // Exactly 18 whole rows for the events, 3 for the leagues, each as
        // tall as a line of the font actually found.
        const int row = list->sizeHintForRow(0);
        QCOMPARE(list->viewport()->height(), (list == form.lHosted ? 18 : 3) * row);
        const QFont font = dynamic_cast<TallyList *>(list)->rowFont();
        QVERIFY2(QFontMetrics(font).height() <= row, qPrintable(QFontInfo(font).family()));
    }
    if (auto *text = qobject_cast<QPlainTextEdit *>(widget)) {
        QCOMPARE(text->parentWidget(), form.About);
        QVERIFY(text->isReadOnly());
        QVERIFY(text->toPlainText().contains("data.txt"));
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), spoken);
}

void TestMainForm::windowAndMenu()
{
    MainForm &form = open();
    QCOMPARE(form.windowTitle(), QStringLiteral("Hostally"));
    QCOMPARE(form.centralWidget()->size(), QSize(432, 346));
    QCOMPARE(form.centralWidget()->y(), form.menuBar()->height());
    QCOMPARE(form.minimumSize(), form.maximumSize());
    // It can be minimized and closed, not maximized, and has no sizing frame.
    const Qt::WindowFlags buttons = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
    QCOMPARE(form.windowFlags() & buttons,
        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint);
#ifdef Q_OS_WIN
    const LONG_PTR style = GetWindowLongPtr(reinterpret_cast<HWND>(form.winId()), GWL_STYLE);
    QCOMPARE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), LONG_PTR(WS_MINIMIZEBOX));
#endif
    QCOMPARE(form.windowIcon().availableSizes().value(0), QSize(48, 48));
    const QRect screen = form.screen()->availableGeometry();
    QVERIFY2((form.frameGeometry().center() - screen.center()).manhattanLength() <= 2,
        "window not centred");

    // Tab order, starting from the focused events list.
    QVERIFY(form.lHosted->hasFocus());
    const QStringList expected {"Command1", "Command2", "Command3", "lLeagues", "ladd", "lRemove",
        "cReset", "Text1", "lHosted"};
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, expected);

    // The menu bar holds one menu: Save, a separator, Quit, no shortcuts.
    const QList<QAction *> menus = form.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus[0]->menu()->objectName() + ':' + menus[0]->text(), "mFile:File");
    QStringList items;
    for (QAction *action : form.mFile->actions()) {
        items.append(action->objectName() + ':' + (action->isSeparator() ? "-" : action->text()));
        QVERIFY(action->shortcut().isEmpty());
    }
    QCOMPARE(items, (QStringList {"mSave:Save", "a:-", "mQuit:Quit"}));
    // A screen reader finds the one menu, and no control but those in kControls.
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(form.menuBar());
    QCOMPARE(bar->childCount(), 1);
    QCOMPARE(QStringList({bar->child(0)->text(QAccessible::Name),
                 QAccessible::queryAccessibleInterface(form.mFile)->text(QAccessible::Name)}),
        QStringList({"File", "File"}));
    int named = 0;
    for (QWidget *widget : form.centralWidget()->findChildren<QWidget *>())
        named += !widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_");
    QCOMPARE(named, int(std::size(kControls)));
}

// Every frame has its four edges in the pixels the window system gets, also at
// 125, 150 and 175 % (the test runs again at each): along each edge, within two
// pixels of it, a line darker than the paper (right of the About caption).
// About's frame is a sunken double line, whose dark line lies one window pixel
// (1.5 or 1.75 device pixels at those scales) inside the light one on the
// right and at the bottom: there it may be that much further in. Toolkits
// round it their own ways: at 150 and 175 % Qt 6.8 draws these lines up to a
// device pixel further in than Qt 6.4 does.
void TestMainForm::framesAreWhole()
{
    MainForm &form = open();
    QTest::qWait(20);
    const QImage shown = form.backingStore()->handle()->toImage();
    const qreal ratio = form.devicePixelRatioF();
    for (const char *name : {"lHosted", "lLeagues", "Command1", "Command2", "Command3", "ladd",
             "lRemove", "cReset", "About", "Text1"}) {
        const auto *control = form.findChild<QWidget *>(name);
        const bool about = control == form.About;
        // About's top edge is halfway down its caption.
        const QRect r
            = onDevice(QRect(control->mapTo(&form, QPoint()), control->size()), ratio)
                  .adjusted(
                      0, about ? qRound(control->fontMetrics().height() * ratio / 2) : 0, 0, 0);
        for (int edge = 0; edge < 4; ++edge) {
            const int inward = about && (edge == 1 || edge == 3) ? qCeil(ratio) : 0;
            const QRect edgeOf = about && edge == 0 ? r.adjusted(r.width() / 2, 0, 0, 0) : r;
            int most = 0;
            for (int off = -2 - inward; off <= 2; ++off)
                most = qMax(most,
                    edgeShare(shown, edgeOf.translated(edge < 2 ? QPoint(0, off) : QPoint(off, 0)),
                        edge, 8, [](const QColor &c) { return qGray(c.rgb()) < 225; }));
            QVERIFY2(most >= 80,
                qPrintable(QString::asprintf(
                    "%s at scale %g: no edge %d (top, bottom, left, right)", name, ratio, edge)));
        }
    }
}

void TestMainForm::startUp()
{
    MainForm &form = open();
    QCOMPARE(lines(form.lHosted),
        (QStringList {
            "Quiz         - 3", "Relay        - 0", "Darts        --2", "A long event name- 1"}));
    QCOMPARE(lines(form.lLeagues),
        (QStringList {"North        - 4", "South        - 0", "West         --1"}));
    QCOMPARE(
        QList<int>({selectedRow(form.lHosted), selectedRow(form.lLeagues)}), QList<int>({-1, -1}));
    QVERIFY(!form.isChanged());
    QVERIFY(m_dialogs.calls.isEmpty());
}

void TestMainForm::noEvents_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("start-up") << QStringList {};
    QTest::newRow("Add and Remove") << QStringList {"add", "remove"};
    QTest::newRow("Reset, answered Yes") << QStringList {"reset"};
    QTest::newRow("Save: leagues only, the blank lines gone") << QStringList {"save"};
}

// A data file of leagues only: an empty events list, whose commands change nothing.
void TestMainForm::noEvents()
{
    QFETCH(QStringList, steps);
    MainForm &form = open(kLeaguesOnly + "\r\n\r\n");
    m_dialogs.answers = {true};
    for (const QString &step : steps)
        act(form, step);
    QCOMPARE(form.isChanged(), !steps.isEmpty() && !steps.contains("save"));
    QCOMPARE(form.lHosted->hasFocus(), !steps.contains("reset"));
    if (steps.contains("save"))
        QCOMPARE(readAll(m_path), kLeaguesOnly);
    QCOMPARE(form.lHosted->count(), 0);
    QCOMPARE(form.total->text(), QStringLiteral("Total Hosted:  0"));
    QCOMPARE(form.lLeagues->count(), 3);
}

void TestMainForm::startUpFailureShowsNoWindow_data()
{
    QTest::addColumn<QString>("folder"); // where data.txt is looked for: in an opened zip, or not
    QTest::addColumn<QByteArray>("data"); // "<missing>" for none
    QTest::addColumn<QString>("said"); // %1 is data.txt's path
    QTest::addColumn<QString>("advice"); // what to do, after the fault
    QTest::newRow("a count that is text")
        << "" << kLeaguesOnly + "\"Quiz\"\r\nabc\r\n"
        << "\n\nLine 8 of %1: expected a count, found abc.\n\n"
        << "Correct that line of data.txt in a text editor, then start Hostally again.";
    QTest::newRow("larger than 16 MB") << "" << QByteArray(16 * 1024 * 1024 + 1, ' ')
                                       << "\n\n%1: cannot read the file: it is larger than 16 MB."
                                       << "";
    // Explorer's "Open" on the program inside the zip copies it alone out.
    QTest::newRow("started from inside the zip")
        << "Temp/Temp1_Hostally-win64.zip/Hostally" << QByteArray("<missing>")
        << "\n\n%1: cannot open the file for reading: "
        << "Hostally was started from inside its zip file. Extract all files first (right-click "
           "the zip file and choose Extract All), then start Hostally from the extracted folder.";
}

void TestMainForm::startUpFailureShowsNoWindow()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, data);
    QFETCH(QString, said);
    QFETCH(QString, advice);
    QVERIFY(place(folder, data));
    const std::unique_ptr<MainForm> form = openMainForm(m_path, &m_dialogs);
    QVERIFY(!form);
    QCOMPARE(m_dialogs.calls.size(), 1);
    QCOMPARE(m_dialogs.calls[0].kind + '|' + m_dialogs.calls[0].title, "error|Hostally");
    const QString prompt = m_dialogs.calls[0].prompt;
    QVERIFY2(prompt.startsWith("Hostally cannot start: its data file could not be read.")
            && prompt.contains(said.arg(QDir::toNativeSeparators(m_path))),
        qPrintable(prompt));
    QCOMPARE(prompt.section("\n\n", 2), advice);
    QCOMPARE(readAll(m_path), data);
    QVERIFY(std::none_of(QApplication::topLevelWidgets().cbegin(),
        QApplication::topLevelWidgets().cend(), [](QWidget *w) { return w->isVisible(); }));
}

void TestMainForm::listLines_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QString>("shown"); // a pattern: how much shows depends on the font
    QTest::addColumn<QString>("dash"); // in column 14, right after the name, or at the room's end
    QTest::addColumn<QString>("spoken");

    auto row = [](const char *name, const char *column, const QByteArray &bytes, const char *count,
                   const QString &shown, const char *dash, const QString &spoken) {
        QTest::newRow(name) << column << bytes << QByteArray(count) << shown << dash << spoken;
    };
    row("events: the name's end gives way", "events", "Karaoke Night at the Harbour", "5",
        QStringLiteral(u"^Karaoke Night .*…$"), "after", "Karaoke Night at the Harbour, 5");
    row("leagues: the padding goes first", "leagues", "Quiz", "-999999999999999", "^Quiz$", "end",
        "Quiz, -999999999999999");
    row("Windows-1252 bytes, as older editors write", "events", "Caf\xE9 \x80\x99", "5",
        QStringLiteral(u"^Café €™$"), "column", QStringLiteral(u"Café €™, 5"));
    row("broken UTF-8 reads as Windows-1252", "events", "Caf\xC3(", "5",
        QStringLiteral(u"^CafÃ\\($"), "column", QStringLiteral(u"CafÃ(, 5"));
    row("a decomposed accent takes no column", "events", "Fe\xCC\x81te", "5",
        QStringLiteral(u"^Fe\u0301te$"), "column", QStringLiteral(u"Fe\u0301te, 5"));
    row("a tab and a direction override show as placeholders", "events", "Tab\t\xE2\x80\xAE 2", "5",
        QStringLiteral(u"^Tab\u25A1\u25A1 2$"), "column", QStringLiteral(u"Tab\u25A1\u25A1 2, 5"));
    row("wide characters and an emoji", "events", "\xE3\x82\xAB\xE3\x83\xA9\xF0\x9F\x8E\xA4", "5",
        QStringLiteral(u"^カラ🎤$"), "column", QStringLiteral(u"カラ🎤, 5"));
    row("right to left, negative count", "events",
        "\xD7\xA2\xD7\xA8\xD7\x91 \xD7\x97\xD7\x99\xD7\x93\xD7\x95\xD7\x9F", "-5",
        QStringLiteral(u"^ערב חידון$"), "column", QStringLiteral(u"\u2068ערב חידון\u2069, -5"));
    row("left to right, then right to left", "leagues", "Quiz 2 \xD7\xA2\xD7\xA8\xD7\x91", "1",
        QStringLiteral(u"^Quiz 2 ערב$"), "column", QStringLiteral(u"\u2068Quiz 2 ערב\u2069, 1"));
}

// Each line reads name, "-", count, left to right; the "-" stands in one
// column for every name narrower than 13 columns, and a line too wide for its
// list keeps its count. A screen reader hears the name and the count.
void TestMainForm::listLines()
{
    QFETCH(QString, column);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, count);
    QFETCH(QString, shown);
    QFETCH(QString, dash);
    QFETCH(QString, spoken);
    // A second line of 13 plain characters, with the same count, to line up with.
    const QByteArray records
        = '"' + name + "\"\r\n" + count + "\r\n\"ABCDEFGHIJKLM\"\r\n" + count + "\r\n";
    MainForm &form
        = open(column == "events" ? kLeaguesOnly + records : records + kLeaguesOnly.mid(12, 12));
    auto *list = columnOf(form, column).list;
    const TallyList::Shown line = list->shownLine(0);
    QVERIFY2(QRegularExpression(shown).match(line.name).hasMatch(), qPrintable(line.name));
    const QFontMetricsF metrics(list->rowFont());
    const QString tail = '-' + QString::fromStdString(hostally::numberText(count.toLongLong()));
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const qreal room = list->viewport()->width() - 2 * margin;
    if (dash == "column")
        QCOMPARE(line.dash, metrics.horizontalAdvance(QString(13, ' ')));
    else if (dash == "after")
        QCOMPARE(line.dash, metrics.horizontalAdvance(line.name));
    else
        QCOMPARE(line.dash + metrics.horizontalAdvance(tail), room);
    QVERIFY(line.dash + metrics.horizontalAdvance(tail) <= room);

    // As drawn: where the "-" shares its column with the plain 13-character
    // name's, the "-" and count look the same as on that line.
    form.Text1->setFocus();
    const QImage drawn = list->viewport()->grab().toImage();
    const QRect plain = list->visualItemRect(list->item(1));
    int left = plain.left(); // where the ink of the plain name starts
    while (drawn.copy(left, plain.top(), 1, plain.height())
        == drawn.copy(0, plain.top(), 1, plain.height()))
        ++left;
    const QRect countPart(
        left + qCeil(line.dash), 0, plain.right() - left - qCeil(line.dash), plain.height());
    if (dash == "column")
        QCOMPARE(drawn.copy(countPart.translated(0, list->visualItemRect(list->item(0)).top())),
            drawn.copy(countPart.translated(0, plain.top())));

    // The tooltip of a shortened line is the whole line; a screen reader
    // hears the name and the count.
    const QPoint at = list->visualItemRect(list->item(0)).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    if (line.shortened && QGuiApplication::platformName() == "offscreen")
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
    QApplication::sendEvent(list->viewport(), &help);
    QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(),
        line.shortened ? list->item(0)->text() : QString());
    QToolTip::hideText();
    QCOMPARE(
        QAccessible::queryAccessibleInterface(list)->child(0)->text(QAccessible::Name), spoken);
}

void TestMainForm::namesInCodePage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint>("codePage");
    QTest::addColumn<QString>("shown");
    // Notepad's "ANSI" on a Polish, a Greek and a Western Windows, and UTF-8.
    const QByteArray polish = "\xA3\xF3\x64\x9F Quiz";
    QTest::newRow("Polish, 1250") << polish << 1250u << QStringLiteral(u"Łódź Quiz");
    QTest::newRow("Greek, 1253") << QByteArray("\xC4\xE9\xE1\xEB\xE5\xEA\xF4\xEF\xF2") << 1253u
                                 << QStringLiteral(u"Διαλεκτος");
    QTest::newRow("Polish bytes, 1252") << polish << 1252u << QStringLiteral(u"£ódŸ Quiz");
    QTest::newRow("UTF-8, 1253") << QByteArray("\xC5\x81\xC3\xB3\x64\xC5\xBA Quiz") << 1253u
                                 << QStringLiteral(u"Łódź Quiz");
}

// Names that are not UTF-8 read in the code page given: the window gives
// Windows' own, or Windows-1252 where the system names none.
void TestMainForm::namesInCodePage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(uint, codePage);
    QFETCH(QString, shown);
    QCOMPARE(fromNameBytes(bytes.toStdString(), codePage), shown);
#ifdef Q_OS_WIN
    QCOMPARE(textCodePage(), uint(GetACP()));
#endif
}

void TestMainForm::totalsFitTheirLabels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("data");
    const QByteArray max = "\"M\"\r\n999999999999999\r\n";
    QTest::newRow("total: 1358020") << "total" << kLeaguesOnly + "\"E\"\r\n1358020\r\n";
    QTest::newRow("total: 100 times the largest count")
        << "total" << kLeaguesOnly + max.repeated(100);
    QTest::newRow("total2: 3 times the most negative count")
        << "total2" << QByteArray(max).replace("\n9", "\n-9").repeated(3);
}

void TestMainForm::totalsFitTheirLabels()
{
    QFETCH(QString, label);
    QFETCH(QByteArray, data);
    MainForm &form = open(data);
    auto *shown = dynamic_cast<FittingLabel *>(form.findChild<QLabel *>(label));
    QVERIFY(shown);
    const TallyTable &table = label == "total" ? form.eventTable() : form.leagueTable();
    QCOMPARE(shown->text(), QString::fromStdString(table.totalLine()));
    // The whole line shows, in a smaller size of the same font; so does the
    // largest total there can be.
    const int room = shown->contentsRect().width();
    QVERIFY(QFontMetricsF(shown->shownFont()).horizontalAdvance(shown->text()) <= room);
    QCOMPARE(shown->shownFont().families(), MainForm::totalFont().families());
    shown->setText(QStringLiteral("Total Hosted: -99999999999999900"));
    QVERIFY(QFontMetricsF(shown->shownFont()).horizontalAdvance(shown->text()) <= room);
    // It is drawn so: no ink runs into the label's last column.
    const QImage drawn = shown->grab().toImage();
    for (int y = 0; y < drawn.height(); ++y)
        QCOMPARE(drawn.pixel(drawn.width() - 1, y), drawn.pixel(drawn.width() - 1, 0));
    // A total that fits is shown in the label's own font.
    m_dialogs.answers = {true};
    click(label == "total" ? form.Command3 : form.cReset);
    QCOMPARE(shown->shownFont(), MainForm::totalFont());
}

void TestMainForm::stepCommand_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<bool>("isAdd");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("change"); // the line stays selected, the first when none was

    for (const char *column : {"events", "leagues"}) {
        const int last = QByteArray(column) == "events" ? 3 : 2;
        auto name = [column](const char *what) { return QByteArray(column) + ": " + what; };
        QTest::newRow(name("add, nothing selected")) << column << true << -1 << 0;
        QTest::newRow(name("add to a positive count")) << column << true << 0 << 1;
        QTest::newRow(name("add to zero")) << column << true << 1 << 1;
        QTest::newRow(name("add to a negative count")) << column << true << 2 << 1;
        QTest::newRow(name("add on the last line")) << column << true << last << 1;
        QTest::newRow(name("remove, nothing selected")) << column << false << -1 << 0;
        QTest::newRow(name("remove from a positive count")) << column << false << 0 << -1;
        QTest::newRow(name("remove from zero changes nothing")) << column << false << 1 << 0;
        QTest::newRow(name("remove from a negative count")) << column << false << 2 << -1;
    }
}

void TestMainForm::stepCommand()
{
    QFETCH(QString, column);
    QFETCH(bool, isAdd);
    QFETCH(int, selected);
    QFETCH(int, change);

    MainForm &form = open();
    const ColumnControls c = columnOf(form, column);
    const ColumnControls other = columnOf(form, column == "events" ? "leagues" : "events");
    if (selected >= 0)
        c.list->setCurrentRow(selected);
    const int checkRow = selected >= 0 ? selected : 0;
    const qint64 countBefore = c.table->count(checkRow);
    const qint64 totalBefore = c.table->total();
    const QStringList otherBefore = lines(other.list);
    const auto items = [&] { return c.list->findItems("*", Qt::MatchWildcard); };
    const QList<QListWidgetItem *> itemsBefore = items();
    QSignalSpy currentMoves(c.list, &QListWidget::currentRowChanged);

    click(isAdd ? c.add : c.remove);

    QVERIFY(form.isChanged());
    QCOMPARE(c.table->count(checkRow), countBefore + change);
    QCOMPARE(c.table->total(), totalBefore + change);
    QCOMPARE(lines(c.list), tableLines(*c.table));
    QCOMPARE(c.total->text(), QString::fromLatin1(c.table->totalLine()));
    QVERIFY(c.list->hasFocus());
    QCOMPARE(selectedRow(c.list), checkRow);
    // The line changes where it stands: every item is the one it was, and the
    // current line never moved to a neighbour, not even for a moment.
    QCOMPARE(items(), itemsBefore);
    if (selected >= 0)
        QCOMPARE(currentMoves.count(), 0);
    // A screen reader hears the line and the total as they are now.
    QCOMPARE(spokenLines(c.list).value(checkRow),
        c.table->name(checkRow).c_str() + QStringLiteral(", %1").arg(c.table->count(checkRow)));
    QCOMPARE(QAccessible::queryAccessibleInterface(c.total)->text(QAccessible::Name),
        QStringLiteral("Total %1 hosted: %2").arg(column).arg(c.table->total()));
    QCOMPARE(lines(other.list), otherBefore);
    QVERIFY(m_dialogs.calls.isEmpty());
}

void TestMainForm::keys_data()
{
    QTest::addColumn<QString>("control"); // where the key goes
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected"); // a button's clicks, or the list's line then selected
    for (const char *button : {"Command1", "Command2", "Command3", "ladd", "lRemove", "cReset"}) {
        QTest::newRow(QByteArray(button) + ": Return") << button << int(Qt::Key_Return) << 1;
        QTest::newRow(QByteArray(button) + ": Enter") << button << int(Qt::Key_Enter) << 1;
    }
    // With no line selected yet, the first move selects the first or last line.
    for (const auto &[name, key, line] : {std::tuple {"Down", Qt::Key_Down, 0},
             {"Up", Qt::Key_Up, 0}, {"Home", Qt::Key_Home, 0}, {"End", Qt::Key_End, 3}})
        QTest::addRow("lHosted: %s", name) << "lHosted" << int(key) << line;
}

// Enter and Return press the focused button, as Space does; a list moves from
// a fresh start to its first line, and shows its focus before any key is used,
// also where Windows hides focus frames until then.
void TestMainForm::keys()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(int, expected);
    MainForm &form = open();
    auto *button = form.findChild<QPushButton *>(control);
    if (button) {
        button->setFocus();
        QSignalSpy clicks(button, &QPushButton::clicked);
        m_dialogs.answers = {false}; // the Reset buttons ask first
        QTest::keyClick(button, Qt::Key(key));
        QCOMPARE(clicks.count(), expected);
        return;
    }
    QVERIFY(form.lHosted->hasFocus());
    const QImage focused = form.lHosted->viewport()->grab().toImage();
    form.Text1->setFocus();
    const QImage unfocused = form.lHosted->viewport()->grab().toImage();
    QVERIFY(unfocused != focused);
    // Nothing is selected yet, and no line looks so: the focus shows around
    // the rows, and the first line's inside is as it is without the focus.
    const QRect first = onDevice(
        form.lHosted->visualItemRect(form.lHosted->item(0)), form.lHosted->devicePixelRatioF());
    QCOMPARE(
        focused.copy(first.adjusted(3, 3, -3, -3)), unfocused.copy(first.adjusted(3, 3, -3, -3)));
    form.lHosted->setFocus();
    QTest::keyClick(form.lHosted, Qt::Key(key));
    QCOMPARE(selectedRow(form.lHosted), expected);
    QTest::keyClick(form.lHosted, Qt::Key_Down);
    QCOMPARE(selectedRow(form.lHosted), qMin(expected + 1, 3));
}

void TestMainForm::selectedLineReads_data()
{
    QTest::addColumn<QString>("look"); // the style's own, pale highlights, or high contrast
    QTest::addColumn<QString>("state"); // of the list or the selected line
    for (const char *look : {"own", "pale", "pale when unfocused", "high contrast"})
        for (const char *state : {"focused", "unfocused", "hovered"})
            QTest::addRow("%s, %s", look, state) << look << state;
}

// The selected line's text, measured in the pixels shown, has at least 4.5:1
// contrast with the highlight the style actually paints: the palette's own
// colour where it reaches that (green on black), else black or white. The
// highlight has at least 3:1 with the list's paper, also where the style or
// the palette (Windows' grey when unfocused) has less.
void TestMainForm::selectedLineReads()
{
    QFETCH(QString, look);
    QFETCH(QString, state);
    TallyList *list = open().lHosted;
    PaleSelectionStyle pale;
    if (look == "pale")
        list->setStyle(&pale);
    QPalette palette = list->palette();
    palette.setColor(QPalette::Highlight, Qt::black);
    palette.setColor(QPalette::HighlightedText, Qt::green);
    if (look == "high contrast")
        list->setPalette(palette);
    if (look == "pale when unfocused") {
        palette = list->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0xF2F2F2));
        list->setPalette(palette);
    }
    list->selectLine(1);
    const QRect row = list->visualItemRect(list->item(1));
    if (state == "unfocused")
        m_form->Text1->setFocus();
    QHoverEvent hover(QEvent::HoverMove, row.center(), row.center(), QPointF(-1, -1));
    if (state == "hovered")
        QApplication::sendEvent(list->viewport(), &hover);
    const QImage shown = list->viewport()->grab().toImage();
    // The paper is the colour seen most often; the ink, the one most unlike it.
    const QHash<QRgb, int> seen
        = coloursIn(shown, onDevice(row, list->devicePixelRatioF()).adjusted(3, 2, -3, -2));
    const QColor paper = commonest(seen);
    QColor ink = paper;
    for (auto it = seen.keyBegin(); it != seen.keyEnd(); ++it)
        ink = contrastRatio(QColor(*it), paper) > contrastRatio(ink, paper) ? QColor(*it) : ink;
    QVERIFY2(contrastRatio(ink, paper) >= kReadableContrast,
        qPrintable(ink.name() + " on " + paper.name()));
    QVERIFY2(contrastRatio(paper, list->palette().color(QPalette::Base)) >= kVisibleContrast,
        qPrintable(paper.name()));
    // Windows' visual styles paint their own highlight whatever the palette
    // says (a high-contrast theme turns them off); where the palette's black
    // is painted, its green is the ink.
    QVERIFY(look != "high contrast" || paper != QColor(Qt::black)
        || contrastRatio(ink, Qt::green) < 1.2);
}

void TestMainForm::resetCommand_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<bool>("answer");
    for (const char *column : {"events", "leagues"})
        for (bool answer : {true, false})
            QTest::addRow("%s: answered %s", column, answer ? "Yes" : "No") << column << answer;
}

void TestMainForm::resetCommand()
{
    QFETCH(QString, column);
    QFETCH(bool, answer);
    MainForm &form = open();
    const ColumnControls c = columnOf(form, column);
    const ColumnControls other = columnOf(form, column == "events" ? "leagues" : "events");
    c.list->setCurrentRow(1);
    // The column as shown: its lines, its total and the selected line.
    auto shown
        = [&c] { return lines(c.list) << c.total->text() << QString::number(selectedRow(c.list)); };
    const QStringList before = shown();
    const QStringList otherBefore = lines(other.list);
    form.Text1->setFocus();
    m_dialogs.answers = {answer};

    click(c.reset);

    QCOMPARE(m_dialogs.log(), QStringList {kResetQuestion});
    QVERIFY(form.isChanged());
    if (answer) {
        QCOMPARE(c.table->total(), 0);
        for (int i = 0; i < c.table->used(); ++i)
            QCOMPARE(c.table->count(i), 0);
        QCOMPARE(shown(),
            tableLines(*c.table) << "Total Hosted:  0"
                                 << "-1");
    } else {
        QCOMPARE(shown(), before);
        QCOMPARE(selectedRow(c.list), 1);
    }
    QCOMPARE(lines(other.list), otherBefore);
    // Reset does not move the focus: the button clicked keeps it.
    QVERIFY(!c.list->hasFocus());
}

void TestMainForm::quit_data()
{
    QTest::addColumn<QString>("entry"); // File > Quit, or the window manager's close button
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<Replies>("answers");
    QTest::addColumn<QStringList>("log"); // %1: data.txt's folder
    QTest::addColumn<bool>("stays"); // the window stays open
    QTest::addColumn<bool>("written"); // data.txt holds the Add
    const QString gone = "error|data.txt is no longer in %1: put it back, then choose File > Save "
                         "again.|Hostally";
    for (const char *entry : {"Quit", "close button"}) {
        auto row = [entry](const char *name, const QStringList &before, const Replies &answers,
                       const QStringList &log, bool stays, bool written) {
            QTest::addRow("%s: %s", entry, name)
                << entry << before << answers << log << stays << written;
        };
        row("right after start-up: no question", {}, {}, {}, false, false);
        row("after Add, answered Yes", {"add"}, {true}, {kSaveQuestion, kSaved}, false, true);
        row("after Add, answered No", {"add"}, {false}, {kSaveQuestion}, false, false);
        row("after Add, Escape: back to the window", {"add"}, {kBack}, {kSaveQuestion}, true,
            false);
        row("after Reset answered No, still asks", {"reset leagues"}, {false, false},
            {kResetQuestion, kSaveQuestion}, false, false);
        row("after Save: no question", {"add", "save"}, {}, {kSaved}, false, true);
        // A save that fails keeps the window open, the counts in it, and asks
        // nothing, since a new file would leave the moved one behind.
        row("after Add, Yes, the folder gone: stays open, saves once it is back", {"add", "gone"},
            {true}, {kSaveQuestion, gone}, true, false);
        row("a failed Save of unchanged counts still asks", {"gone", "save"}, {false},
            {gone, kSaveQuestion}, false, false);
    }
}

void TestMainForm::quit()
{
    QFETCH(QString, entry);
    QFETCH(QStringList, before);
    QFETCH(Replies, answers);
    QFETCH(QStringList, log);
    QFETCH(bool, stays);
    QFETCH(bool, written);

    MainForm &form = open();
    m_dialogs.answers = answers;
    for (const QString &step : before)
        act(form, step);
    const bool changedBefore = form.isChanged();

    QCloseEvent event;
    if (entry == "Quit")
        form.mQuit->trigger();
    else
        QApplication::sendEvent(&form, &event);
    const bool closed = entry == "Quit" ? !form.isVisible() : event.isAccepted();

    QCOMPARE(m_dialogs.log(), log.replaceInStrings("%1", m_dir->path()));
    QCOMPARE(closed, !stays);
    QCOMPARE(form.isChanged(), changedBefore);
    QCOMPARE(readAll(m_path).contains("\"Quiz\"\r\n4\r\n"), written);
    if (!written && !before.contains("gone"))
        QCOMPARE(readAll(m_path), kData);
    QCOMPARE(form.eventTable().count(0), before.contains("add") ? 4 : 3);
    if (!stays || !before.contains("gone"))
        return;
    // Once the folder and file are back, saving again writes the counts the user had.
    QVERIFY(QDir().mkpath(m_dir->path()) && writeAll(m_path, kData));
    form.mSave->trigger();
    QCOMPARE(m_dialogs.log().last(), kSaved);
    QVERIFY(!form.isChanged());
    QVERIFY(readAll(m_path).contains("\"Quiz\"\r\n4\r\n"));
}

void TestMainForm::saveMergesOutsideChanges_data()
{
    QTest::addColumn<QString>("entry"); // Save or Quit, after "Reset, " or "Add all, " when given
    QTest::addColumn<QByteArray>("outside"); // data.txt after the window's Add on Quiz
    QTest::addColumn<QString>("asked"); // a part of the question, if one is asked
    QTest::addColumn<bool>("yes"); // the answer, when asked
    QTest::addColumn<QByteArray>("saved"); // data.txt afterwards ("" when as outside left it)
    QTest::addColumn<int>("selected"); // Quiz's line in the window afterwards

    // Another window counted Quiz +3 and Relay +5 and added Film; the window counts Quiz +1.
    const QByteArray counted = QByteArray(kData)
                                   .replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n6")
                                   .replace("\"Relay\"\r\n0", "\"Relay\"\r\n5")
        + "\"Film\"\r\n2\r\n";
    const QByteArray both = QByteArray(counted).replace("\"Quiz\"\r\n6", "\"Quiz\"\r\n7");
    const QByteArray moved = QByteArray(kData).replace("\"Quiz\"", "\"Film\"\r\n2\r\n\"Quiz\"");
    const QByteArray ours = QByteArray(kData).replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n4");
    const QByteArray renamed = QByteArray(kData).replace("\"Quiz\"", "\"Trivia Night\"");
    auto row = [](const char *name, const char *entry, const QByteArray &outside,
                   const QString &asked, bool yes, const QByteArray &saved, int selected) {
        QTest::newRow(name) << entry << outside << asked << yes << saved << selected;
    };
    row("Save, data.txt as read: the window's tables written", "Save", kData, "", 0, ours, 0);
    row("Save, counted elsewhere: both kept, no question", "Save", counted, "", 0, both, 0);
    row("Save, an event added before ours: ours stays selected", "Save", moved, "", 0,
        QByteArray(moved).replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n4"), 1);
    row("Save, our line renamed, No: kept", "Save", renamed,
        QStringLiteral(u"• the event “Quiz” is no longer in data.txt"), false, "", 0);
    // Its names are only in the window now: No keeps them there, Yes writes them.
    const QString missing = QStringLiteral("is no longer there: it was deleted or moved.");
    row("Save, data.txt removed, No: nothing written", "Save", "<missing>", missing, false, "", 0);
    row("Save, data.txt removed, Yes: written from the window", "Save", "<missing>", missing, true,
        ours, 0);
    row("Save, half edited, No: kept", "Save", kLeaguesOnly + "\"Quiz\"\r\nabc\r\n",
        "Hostally cannot read it now (line 8: expected a count, found abc)", false, "", 0);
    // A name holding %1 stays as it is in the message.
    const QByteArray percent = QByteArray(kData).replace("\"Quiz\"", "\"50%1 off\"");
    const QByteArray largest
        = QByteArray(percent).replace("off\"\r\n3", "off\"\r\n999999999999999");
    row("Quit, past the largest count, Yes: the file's line kept", "Quit", largest,
        QStringLiteral(u"• the event “50%1 off” would pass the largest count"), true, largest, 0);
    // An editor added a second Quiz and counted Relay: which Quiz was counted
    // cannot be told, and Yes keeps the editor's lines.
    const QByteArray twice = QByteArray(counted) + "\"Quiz\"\r\n1\r\n";
    row("Save, a counted name now twice, Yes: the editor's lines kept", "Save", twice,
        QStringLiteral(u"• the event “Quiz” is in data.txt a different number of times now"), true,
        twice, 0);
    // Reset means zero: the events as 0 and the Add since, whatever was counted elsewhere.
    row("Reset, Save, counted elsewhere, Yes: zeros", "Reset, Save", counted,
        QStringLiteral(u"• you reset the events, and they have been changed in data.txt since"),
        true,
        QByteArray(kLeaguesOnly)
            + "\"Quiz\"\r\n1\r\n\"Relay\"\r\n0\r\n\"Darts\"\r\n0\r\n"
              "\"A long event name\"\r\n0\r\n\"Film\"\r\n0\r\n",
        0);
    // Every line counted, none left in the file: five named, then how many more.
    const QByteArray others = "\"East\"\r\n1\r\n\"Far\"\r\n0\r\n\"Mid\"\r\n0\r\n\"Film\"\r\n2\r\n";
    row("Add all, Save, every line gone: five named", "Add all, Save", others,
        QStringLiteral(u"• the event “Relay” is no longer in data.txt\n… and 2 more"), true, others,
        -1);
}

// Counts are changes that add up: a save adds the window's to data.txt as it
// is now and shows the result, and asks only when they cannot be added.
void TestMainForm::saveMergesOutsideChanges()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, outside);
    QFETCH(QString, asked);
    QFETCH(bool, yes);
    QFETCH(QByteArray, saved);
    QFETCH(int, selected);

    MainForm &form
        = open(outside.contains("50%1 off") ? QByteArray(kData).replace("\"Quiz\"", "\"50%1 off\"")
                                            : kData);
    QStringList log;
    if (entry.startsWith("Reset")) {
        m_dialogs.answers = {true};
        click(form.Command3);
        log.append(kResetQuestion);
    }
    if (entry.startsWith("Add all")) {
        for (TallyList *list : {form.lLeagues, form.lHosted})
            for (int i = 0; i < list->count(); ++i) {
                list->setCurrentRow(i);
                click(list == form.lHosted ? form.Command1 : form.ladd);
            }
    }
    form.lHosted->setCurrentRow(0);
    click(form.Command1);
    QVERIFY(outside == "<missing>" ? QFile::remove(m_path) : writeAll(m_path, outside));
    const bool quit = entry == "Quit";
    m_dialogs.answers = quit ? Replies {true, yes} : Replies {yes};

    (quit ? form.mQuit : form.mSave)->trigger();
    const bool closed = quit && !form.isVisible();

    if (quit)
        log.append(kSaveQuestion);
    if (!asked.isEmpty())
        log.append("ask|" + asked + "|Hostally|default No|Escape answers No");
    if (!saved.isEmpty())
        log.append(kSaved);
    // The question's whole wording is messages()'s; here it names the file and the reason.
    QStringList shown = m_dialogs.log();
    for (QString &line : shown)
        if (line.startsWith("ask|" + m_path) && line.contains(asked))
            line.replace(4, line.lastIndexOf("|Hostally|") - 4, asked);
    QCOMPARE(shown, log);
    if (outside == "<missing>" && saved.isEmpty())
        QVERIFY(!QFile::exists(m_path));
    else
        QCOMPARE(readAll(m_path), !saved.isEmpty() ? saved : outside);
    QCOMPARE(closed, quit && !saved.isEmpty());
    if (closed)
        return;
    // No is like a failed save: the counts stay unsaved and the window open.
    QCOMPARE(form.isChanged(), quit || saved.isEmpty());
    if (saved.isEmpty())
        return;
    // The window shows what it saved, the selected line still selected; a
    // second save finds the file as it wrote it, asks nothing and writes the
    // same bytes.
    QCOMPARE(hostally::formatDataFile(form.leagueTable(), form.eventTable()).c_str(), saved);
    QCOMPARE(lines(form.lHosted), tableLines(form.eventTable()));
    QCOMPARE(form.total->text(), QString::fromStdString(form.eventTable().totalLine()));
    QCOMPARE(selectedRow(form.lHosted), selected);
    form.mSave->trigger();
    QCOMPARE(m_dialogs.log().mid(shown.size()), QStringList {kSaved});
    QCOMPARE(readAll(m_path), saved);
    // Later saves merge as usual: a Reset once saved is not written again.
    QVERIFY(writeAll(m_path, saved + "\"Extra\"\r\n1\r\n"));
    click(form.Command1);
    form.mSave->trigger();
    QCOMPARE(m_dialogs.log().mid(shown.size()), (QStringList {kSaved, kSaved}));
    QVERIFY(readAll(m_path).endsWith("\"Extra\"\r\n1\r\n"));
}

void TestMainForm::recoveryFileFollowsChanges_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<bool>("kept"); // whether the recovery file holds the window's counts
    auto row = [](const char *name, const QStringList &steps, const QStringList &log, bool kept) {
        QTest::newRow(name) << steps << log << kept;
    };
    row("no change: no file", {}, {}, false);
    row("Add: written within a second", {"add"}, {}, true);
    row("Reset: written", {"reset"}, {kResetQuestion}, true);
    row("Add, Remove: nothing left to keep", {"add", "remove"}, {}, false);
    row("Add, Save: deleted", {"add", "written", "save"}, {kSaved}, false);
    row("Add, Quit answered No: deleted", {"add", "written", "quit-no"}, {kSaveQuestion}, false);
    row("Add, session ends: written at once, closed without a question",
        {"add", "session-end", "close"}, {}, true);
    row("session end called off: Quit asks again", {"add", "session-end", "called-off", "quit-no"},
        {kSaveQuestion}, false);
    row("session end, then the user clicks (a logout called off): Quit asks again",
        {"add", "session-end", "click", "quit-no"}, {kSaveQuestion}, false);
    row("cannot be written: said once, not at every Add",
        {"unwritable", "add", "wait", "add", "wait"},
        {"error|Hostally cannot keep a copy of your unsaved counts beside data.txt at the moment, "
         "so they would be lost if Hostally were ended now.\n\n%1: Input/output "
         "error.\n\nChoose File > Save now. If that fails too, free some space on the disk, or "
         "put the folder back where it was; Hostally keeps trying meanwhile.|Hostally"},
        false);
}

void TestMainForm::recoveryFileFollowsChanges()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, log);
    QFETCH(bool, kept);
    MainForm &form = open();
    const QString path = recoveryFile(m_path);
    m_dialogs.answers = {true};
    for (const QString &step : steps)
        act(form, step);
    if (!steps.contains("session-end"))
        QTest::qWait(1500);
    hostally::setFileHookForTesting({});
    QCOMPARE(m_dialogs.log(), QStringList(log).replaceInStrings("%1", path));
    QCOMPARE(QFile::exists(path), kept);
    // A window holds its slot while it has counts to keep, written or not.
    QCOMPARE(QFile::exists(path + ".lock"), kept || steps.contains("unwritable"));
    if (!kept)
        return;
    hostally::Recovery recovery;
    QVERIFY(hostally::parseRecovery(readAll(path).toStdString(), recovery).ok);
    hostally::Tallies read;
    hostally::parseDataFile(kData.toStdString(), read.leagues, read.events);
    QVERIFY(hostally::apply(recovery.batch, read, hostally::RefusedReset::Zeros).tallies.events
        == form.eventTable());
    // The Reset and the three events it set to 0, or the Add.
    QCOMPARE(hostally::changeCount(recovery.batch), steps.contains("reset") ? 4 : 1);
}

void TestMainForm::unsavedCountsOfferedAtStart_data()
{
    QTest::addColumn<QString>("file"); // the recovery file: "Quiz +2", "damaged" or "own id"
    QTest::addColumn<QByteArray>("now"); // data.txt at the start
    QTest::addColumn<Replies>("answers");
    QTest::addColumn<int>("quiz"); // Quiz's count in the window afterwards
    QTest::addColumn<QString>("notice"); // the notice or error after the question, if any

    const QByteArray counted = QByteArray(kData).replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n10");
    const QByteArray renamed = QByteArray(kData).replace("\"Quiz\"", "\"Trivia\"");
    QTest::newRow("Yes: added to data.txt as it is now")
        << "Quiz +2" << counted << Replies {true} << 12 << "";
    QTest::newRow("Yes, its line renamed since: named in the question, nothing changed")
        << "Quiz +2" << renamed << Replies {true} << 3 << "";
    QTest::newRow("No: deleted") << "Quiz +2" << counted << Replies {false} << 10 << "";
    QTest::newRow("Escape: kept for the next start")
        << "Quiz +2" << counted << Replies {Dialogs::Answer::Back} << 10 << "";
    QTest::newRow("damaged: kept and reported, not asked")
        << "damaged" << counted << Replies {} << 10
        << "error|Hostally found counts that were not saved, but cannot read them.\n\n"
           "%1: it is not a file of unsaved counts Hostally wrote.\n\n"
           "The file is kept as it is.|Hostally";
    QTest::newRow("its lock left by an earlier process with this one's id: offered")
        << "own id" << counted << Replies {true} << 12 << "";
}

void TestMainForm::unsavedCountsOfferedAtStart()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, now);
    QFETCH(Replies, answers);
    QFETCH(int, quiz);
    QFETCH(QString, notice);

    const hostally::Recovery recovery = quizRecovery();
    const QString path = recoveryFile(m_path);
    const QByteArray bytes
        = file == "damaged" ? kData : QByteArray::fromStdString(hostally::formatRecovery(recovery));
    QVERIFY(hostally::writeDurably(path, bytes).ok);
    if (file == "own id") {
        // Process ids come round again, after a restart or under Wine.
        QLockFile earlier(path + ".lock");
        QVERIFY(earlier.tryLock(0));
        const QByteArray left = readAll(path + ".lock");
        earlier.unlock();
        QFile lockFile(path + ".lock");
        QVERIFY(lockFile.open(QIODevice::WriteOnly) && lockFile.write(left) == left.size());
    }
    m_dialogs.answers = answers;

    MainForm &form = open(now);

    // The offer's whole wording is messages()'s; here it names the change, and
    // what cannot be restored.
    QStringList log = m_dialogs.log();
    const QString asked = now.contains("Trivia")
        ? QStringLiteral(u"• Event “Quiz”: 3 to 5\n\nThese cannot be restored, as data.txt has "
                         u"changed since:\n\n• the event “Quiz” is no longer in data.txt\n\n")
        : QStringLiteral(u"• Event “Quiz”: 3 to 5\n\nRestore them?");
    if (!answers.isEmpty()) {
        QVERIFY2(log.value(0).contains(asked), qPrintable(log.value(0)));
        QCOMPARE(log.takeFirst().section('|', 2),
            QStringLiteral("Unsaved counts|default Yes|Escape goes back"));
    }
    QCOMPARE(log,
        notice.isEmpty()
            ? QStringList()
            : QStringList {QString(notice).replace("%1", QDir::toNativeSeparators(path))});
    QCOMPARE(form.eventTable().count(0), quiz);
    QCOMPARE(readAll(m_path), now);
    const Dialogs::Answer answer = answers.isEmpty() ? Dialogs::Answer::Back : answers[0].answer;
    const bool restored = answer == Dialogs::Answer::Yes && quiz != 3;
    QCOMPARE(form.isChanged(), restored);
    // The file stays, as it was, unless No deleted it or the window's own
    // file took its counts.
    QCOMPARE(readAll(path) == bytes, answer == Dialogs::Answer::Back);
    QCOMPARE(QFile::exists(path), answer == Dialogs::Answer::Back);
    QCOMPARE(!form.recoveryPath().isEmpty(), answer == Dialogs::Answer::Yes);
}

void TestMainForm::messageBoxes_data()
{
    QTest::addColumn<QString>("box"); // a notice, or a question's default and Escape
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("action"); // Escape, close (its close button) or Return
    QTest::addColumn<QString>("outcome"); // then Yes is clicked on a box that stays up
    auto row
        = [](const char *name, const char *box, const char *title, const char *action,
              const char *outcome) { QTest::newRow(name) << box << title << action << outcome; };
    // "Save your changes?": No would lose the counts; Escape goes back instead.
    const char *save = "default Yes, Escape goes back";
    row("Save: Escape", save, "Save", "Escape", "answered, Back");
    row("Save: close button", save, "Save", "close", "answered, Back");
    row("Save: Return", save, "Save", "Return", "answered, Yes");
    // Reset's "Confirm", and "Hostally" replacing a data file the window's
    // counts cannot be added to: a stray Return erases nothing.
    const char *confirm = "default No, Escape answers No";
    row("Confirm: Return", confirm, "Confirm", "Return", "answered, No");
    row("Hostally: Escape", confirm, "Hostally", "Escape", "answered, No");
    row("Confirm: close button", confirm, "Confirm", "close", "answered, No");
    // Notices, as wide as their titles.
    row("Saved", "notice", "Saved", "Return", "answered");
    row("a title longer than the prompt", "notice", "A title a good deal longer than Saved",
        "Return", "answered");
}

// The real message boxes, as the program shows them: what Return, Escape and
// the close button do, room in the frame for the title in bold beside the
// window manager's icon and buttons (four squares of a line and a half), and
// the box centred on the screen, also over a window not shown yet.
void TestMainForm::messageBoxes()
{
    QFETCH(QString, box);
    QFETCH(QString, title);
    QFETCH(QString, action);
    QFETCH(QString, outcome);
    if (QGuiApplication::platformName() == "offscreen")
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QString seen = QStringLiteral("no box");
    QFontMetrics bold(QFont {});
    int width = 0;
    bool centred = false;
    QTimer::singleShot(0, this, [&] {
        auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!shown)
            return;
        QFont font = shown->font();
        font.setBold(true);
        bold = QFontMetrics(font);
        width = shown->width();
        centred = (shown->frameGeometry().center() - shown->screen()->availableGeometry().center())
                      .manhattanLength()
            <= 2;
        if (action == "close")
            shown->close();
        else
            QTest::keyClick(shown->focusWidget() ? shown->focusWidget() : shown,
                action == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
        QCoreApplication::processEvents();
        seen = shown->isVisible() ? QStringLiteral("stays up") : QStringLiteral("answered");
        if (shown->isVisible())
            shown->button(QMessageBox::Yes)->click();
    });
    MessageBoxDialogs dialogs;
    QWidget unshown; // as the window is when the restore offer shows
    if (box == "notice") {
        dialogs.inform(&unshown, QStringLiteral("Saved"), title);
    } else {
        const Dialogs::Answer answer = dialogs.ask(&unshown, QStringLiteral("Question?"), title,
            box.contains("default Yes") ? Dialogs::Default::Yes : Dialogs::Default::No,
            box.contains("answers No") ? Dialogs::Escape::AnswersNo : Dialogs::Escape::GoesBack);
        seen += answer == Dialogs::Answer::Yes ? ", Yes" : answer == kBack ? ", Back" : ", No";
    }
    QCOMPARE(seen, outcome);
    QVERIFY(width >= bold.horizontalAdvance(title) + 6 * bold.height());
    QVERIFY2(centred, "box not centred on the screen");
}

void TestMainForm::conflictCopiesAtStart_data()
{
    // What the other computer did to kData: "+2" saved Quiz +2, "reset" saved
    // a Reset of the events, "hand" wrote Quiz 5 by hand, saving nothing.
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<Replies>("answers");
    QTest::addColumn<QString>("boxes"); // the kind of each box shown
    QTest::addColumn<int>("quiz"); // the first event's count in the window and data.txt
    QTest::addColumn<bool>("kept"); // the copy left where it was
    QTest::newRow("merged from the logs") << "+2" << Replies {} << "inform" << 8 << false;
    QTest::newRow("no log: named, left alone") << "hand" << Replies {} << "error" << 6 << true;
    QTest::newRow("a Reset met by counts here, No: the copy kept")
        << "reset" << Replies {false} << "ask" << 6 << true;
    QTest::newRow("a Reset met by counts here, Yes: the list kept, the copy deleted")
        << "reset" << Replies {true} << "ask inform" << 6 << false;
}

// A copy of data.txt that a sync program kept, saved on another computer while
// the two could not reach each other, adds its counts to data.txt at start-up
// once; one that no log places is only named.
void TestMainForm::conflictCopiesAtStart()
{
    QFETCH(QString, theirs);
    QFETCH(Replies, answers);
    QFETCH(QString, boxes);
    QFETCH(int, quiz);
    QFETCH(bool, kept);
    const QString copy = m_dir->filePath("data.sync-conflict-20261209-074240-7ITJG26.txt");
    // Each computer saves from kData, here this one Quiz +3.
    const auto save = [this](const hostally::Computer &computer, const QString &what) {
        QVERIFY(writeAll(m_path, kData));
        hostally::Session session(m_path, computer);
        QVERIFY(session.load().ok);
        if (what == "reset")
            session.reset(false);
        for (int i = 0; i < what.mid(1).toInt(); ++i)
            session.step(false, 0, true);
        QVERIFY(session.save().saved);
    };
    QByteArray other = QByteArray(kData).replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n5");
    const QString log = m_path + ".log-aaaaaaaa";
    if (theirs != "hand") {
        save({"aaaaaaaa", "alpha"}, theirs);
        other = readAll(m_path);
        QVERIFY(QFile::rename(log, log + ".away"));
    }
    save(hostally::thisComputer(), "+3");
    // Then the sync program brings the other computer's log and, as a copy,
    // its data.txt.
    QVERIFY(theirs == "hand" || QFile::rename(log + ".away", log));
    QVERIFY(writeAll(copy, other));
    m_dialogs.answers = answers;
    for (int start = 0; start < 2; ++start) {
        m_dialogs.calls.clear();
        MainForm &form = open(readAll(m_path));
        QStringList shown;
        for (const FakeDialogs::Call &call : m_dialogs.calls) {
            shown.append(call.kind);
            QCOMPARE(call.title, QStringLiteral("Counts from another computer"));
            QVERIFY2(call.prompt.contains(QFileInfo(copy).fileName()), qPrintable(call.prompt));
        }
        // Merged once: a second start finds nothing, or the copy left as it was.
        QCOMPARE(shown.join(' '), start == 0 || kept ? boxes : QString());
        QCOMPARE(form.eventTable().count(0), quiz);
        QVERIFY(!form.isChanged());
        QCOMPARE(QFile::exists(copy), kept);
        hostally::Tallies saved;
        QVERIFY(
            hostally::parseDataFile(readAll(m_path).toStdString(), saved.leagues, saved.events).ok);
        QCOMPARE(saved.events.count(0), quiz);
        m_form.reset();
        m_dialogs.answers = answers;
    }
}

void TestMainForm::messages_data()
{
    using hostally::SaveQuestion;
    using Kind = hostally::Refusal::Kind;
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    const auto line = [](bool league, const char *name, int before, int after) {
        return hostally::BatchLine {league, name, 0, 1, before, after};
    };
    const auto refused = [&line](Kind kind, bool league, const char *name) {
        return hostally::Refusal {kind, line(league, name, 0, 0)};
    };
    const auto save = [](SaveQuestion question, const hostally::Status &problem,
                          const std::vector<hostally::Refusal> &refusals) {
        hostally::SaveResult asked;
        asked.question = question;
        asked.status = problem;
        asked.refusals = refusals;
        return messages::saveQuestion(asked, "/d/data.txt");
    };
    QTest::newRow("save: data.txt gone")
        << save(SaveQuestion::Missing, {}, {})
        << "/d/data.txt is no longer there: it was deleted or moved.\n\nYes writes a new data.txt "
           "there with the names and counts shown in this window.\nNo writes nothing; your "
           "counts stay in the window.";
    QTest::newRow("save: a line that does not read")
        << save(SaveQuestion::Unparsable, hostally::Status::failure(8, "expected a count"), {})
        << "/d/data.txt was changed outside Hostally, and the counts in this window cannot be "
           "added to it: Hostally cannot read it now (line 8: expected a count).\n\nYes "
           "replaces it with the counts shown in this window.\nNo leaves it as it is, and "
           "nothing is saved.";
    // One wording for each refusal, the same in a save's question and in the
    // offer of unsaved counts; a name holding %1 stays as it is.
    QTest::newRow("save: every refusal")
        << save(SaveQuestion::Refused, {},
               {refused(Kind::NotInFile, true, "North"), refused(Kind::RepeatedName, false, "Quiz"),
                   refused(Kind::OutOfRange, false, "50%1 off"), refused(Kind::ResetChanged, false, "")})
        << QStringLiteral(
               u"/d/data.txt was changed outside Hostally, and not all the counts in this window "
               u"can be added to it:\n\n• the league “North” is no longer in data.txt\n• the "
               u"event “Quiz” is in data.txt a different number of times now, so which one you "
               u"counted cannot be told\n• the event “50%1 off” would pass the largest count "
               u"data.txt can hold, 999999999999999 either way\n• you reset the events, and they "
               u"have been changed in data.txt since\n\nYes saves what can be saved: the events "
               u"as 0 plus what you counted since the Reset, and every other count in this "
               u"window added to data.txt as it is now, leaving the lines above as data.txt has "
               u"them.\nNo leaves it as it is, and nothing is saved.");
    QTest::newRow("save: both Resets refused")
        << save(SaveQuestion::Refused, {},
               {refused(Kind::ResetChanged, true, ""), refused(Kind::ResetChanged, false, "")})
        << QStringLiteral(
               u"/d/data.txt was changed outside Hostally, and not all the counts in this window "
               u"can be added to it:\n\n• you reset the leagues, and they have been changed in "
               u"data.txt since\n• you reset the events, and they have been changed in data.txt "
               u"since\n\nYes saves what can be saved: the leagues and events as 0 plus what you "
               u"counted since the Reset, and every other count in this window added to data.txt "
               u"as it is now.\nNo leaves it as it is, and nothing is saved.");
    std::vector<hostally::Refusal> seven;
    for (const char *name : {"A", "B", "C", "D", "E", "F", "G"})
        seven.push_back(refused(Kind::NotInFile, false, name));
    QTest::newRow("save: seven refused, five named")
        << save(SaveQuestion::Refused, {}, seven)
        << QStringLiteral(
               u"/d/data.txt was changed outside Hostally, and not all the counts in this window "
               u"can be added to it:\n\n• the event “A” is no longer in data.txt\n• the event “B” "
               u"is no longer in data.txt\n• the event “C” is no longer in data.txt\n• the event "
               u"“D” is no longer in data.txt\n• the event “E” is no longer in data.txt\n… and 2 "
               u"more\n\nYes saves what can be saved: every other count in this window added to "
               u"data.txt as it is now, leaving the lines above as data.txt has them.\nNo leaves "
               u"it as it is, and nothing is saved.");

    hostally::Recovery recovery = quizRecovery();
    const auto offer = [](const hostally::Recovery &recovery, bool maybeSaved = false) {
        hostally::Offer offer;
        offer.recovery = recovery;
        offer.maybeSaved = maybeSaved;
        return offer;
    };
    const QLocale locale;
    const QString when = locale.toString(QDate(2026, 3, 14), QLocale::LongFormat) + " at "
        + locale.toString(QTime(21, 30), QLocale::ShortFormat);
    const QString restore = "\n\nRestore them? Yes adds them to the counts in the window; choose "
                            "File > Save to keep them in data.txt. No deletes them. Escape keeps "
                            "them for the next start.";
    // Quiz named "" (data.txt allows it), which is still a line, not a Reset.
    recovery.batch.lines[0].name = "";
    QTest::newRow("restore: one change, to a line named \"\"")
        << messages::restoreOffer(offer(recovery), {})
        << QStringLiteral(u"1 change made in Hostally up to %1 was not saved:\n\n• Event “”: "
                          u"3 to 5")
                .arg(when)
            + restore;
    // The leagues reset, Quiz renamed since: both refused.
    recovery = quizRecovery({true, false});
    hostally::Applied preview;
    preview.refused = {refused(Kind::ResetChanged, true, ""), refused(Kind::NotInFile, false, "Quiz")};
    QTest::newRow("restore: a Reset and changes, two refused")
        << messages::restoreOffer(offer(recovery), preview)
        << QStringLiteral(u"4 changes made in Hostally up to %1 were not saved:\n\n• The Reset of "
                          u"the leagues\n• League “North”: 4 to 0\n• League “West”: -1 to 0\n• "
                          u"Event “Quiz”: 3 to 5\n\nThese cannot be restored, as data.txt has "
                          u"changed since:\n\n• you reset the leagues, and they have been changed "
                          u"in data.txt since\n• the event “Quiz” is no longer in data.txt")
                .arg(when)
            + restore;
    QTest::newRow("restore: a save of them may have reached data.txt")
        << messages::restoreOffer(offer(quizRecovery(), true), {})
        << QStringLiteral(u"1 change made in Hostally up to %1 was not saved:\n\n• Event "
                          u"“Quiz”: 3 to 5\n\nHostally was ended while it saved them, and cannot "
                          u"tell whether they reached data.txt: look at data.txt before you answer "
                          u"Yes.\n\n")
                .arg(when)
            + restore.mid(2);
    using Copy = hostally::CopyReport;
    const auto copy = [](const char *name, Copy::Kind kind,
                          std::vector<hostally::BatchLine> counted,
                          std::vector<hostally::Refusal> refusals = {}) {
        return Copy {QStringLiteral("/d/") + name, kind, std::move(counted), std::move(refusals),
            {}, hostally::Status::failure(3, "expected a count")};
    };
    const std::vector<hostally::CopyReport> copies {
        copy("data.sync-conflict-20261209-074240-7ITJG26.txt", Copy::Kind::Merged,
            {line(true, "North", 1, 0), line(false, "Quiz", 3, 5)}),
        copy("data (Ann's conflicted copy 2026-12-09).txt", Copy::Kind::Merged, {}),
        copy("data-LAPTOP.txt", Copy::Kind::Refused, {}, {refused(Kind::ResetChanged, false, "")}),
        copy("data (conflicted copy 2026-12-09 074240).txt", Copy::Kind::Left,
            {line(false, "Quiz", 6, 5)}),
        copy("data.sync-conflict-20261209-074241-7ITJG26.txt", Copy::Kind::Unreadable, {}),
    };
    QTest::newRow("copies merged")
        << messages::copiesMerged(copies)
        << QStringLiteral(u"Hostally added to data.txt the counts made on another computer that a "
                          u"sync program had kept in copies of it, and deleted the copies: league "
                          u"“North” -1, event “Quiz” +2 from "
                          u"“data.sync-conflict-20261209-074240-7ITJG26.txt”; nothing to add from "
                          u"“data (Ann's conflicted copy 2026-12-09).txt”.");
    QTest::newRow("copies: none merged") << messages::copiesMerged({copies[2]}) << QString();
    QTest::newRow("copies: what cannot be placed")
        << messages::copiesQuestion(copies)
        << QStringLiteral(u"A sync program kept counts made on another computer in a copy of "
                          u"data.txt, but not all of them can be added to it:\n\n“data-LAPTOP.txt”:"
                          u"\n• the events were reset on the other computer, and have been changed "
                          u"in data.txt since\n\n"
                          u"Yes adds the others and deletes the copy.\nNo leaves the copy as it "
                          u"is, and adds nothing from it.");
    QTest::newRow("copies left alone")
        << messages::copiesLeft(copies)
        << QStringLiteral(u"A sync program kept a copy of data.txt, but Hostally cannot tell "
                          u"which of its counts are new, so it has left it as it is:\n\n"
                          u"“data (conflicted copy 2026-12-09 074240).txt”:\n• Event “Quiz”: 6 "
                          u"in data.txt, 5 in the copy\n\n"
                          u"“data.sync-conflict-20261209-074241-7ITJG26.txt”:\n• Line 3: "
                          u"expected a count.\n\nAdd any counts that data.txt lacks by hand, "
                          u"then delete the copy.");
    hostally::SaveResult same;
    same.question = SaveQuestion::SameBytes;
    same.missing = {line(false, "Quiz", 4, 5)};
    same.missingFrom = {"beta"};
    QTest::newRow("the same bytes from saves that counted differently")
        << messages::saveQuestion(same, "/d/data.txt")
        << QStringLiteral(u"Saves on more than one computer wrote the same data.txt, each with "
                          u"counts of its own, so these counts saved on beta may be missing from "
                          u"it:\n\n• Event “Quiz”: 4 to 5\n\nYes adds them to data.txt. No takes "
                          u"data.txt as it is: choose No when both computers counted the same "
                          u"visits.");
}

// The words of the window's boxes that are built from what happened.
void TestMainForm::messages()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

void TestMainForm::iconIsTheInstalledImage()
{
    MainForm &form = open();
    const QImage shown
        = form.windowIcon().pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage installed = QImage(QStringLiteral(HOSTALLY_SOURCE_DIR "/app/hostally.png"))
                                 .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown.size(), QSize(48, 48));
    QCOMPARE(shown, installed);
    // Transparent corners around an opaque tile, in at most 256 colours.
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(shown.pixel(24, 24)), 255);
    QVERIFY(
        shown.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither).colorCount() <= 256);
}

void TestMainForm::windowFontByDefaultChangesNothingShown()
{
    auto fontsOf = [](MainForm &form) {
        QMap<QString, QFont> fonts;
        for (QWidget *widget : form.findChildren<QWidget *>())
            fonts.insert(widget->objectName(), widget->font());
        return fonts;
    };
    const QMap<QString, QFont> before = fontsOf(open());
    const QFont appFont = QGuiApplication::font();
    const QFont menuFont = QApplication::font("QMenu");
    const QFont messageBoxFont = QApplication::font("QMessageBox");
    const auto restore = qScopeGuard([&] { QGuiApplication::setFont(appFont); });

    useWindowFontByDefault();

    QCOMPARE(QGuiApplication::font(), MainForm::windowFont());
    MainForm &form = open();
    QCOMPARE(fontsOf(form), before);
    // Popup menus and message boxes are windows and keep the font they had
    // (a widget takes its class's font when it is polished, before it shows).
    form.mFile->ensurePolished();
    QCOMPARE(form.mFile->font(), menuFont);
    QMessageBox box(QMessageBox::Critical, "Hostally", "text", QMessageBox::Ok, &form);
    box.ensurePolished();
    QCOMPARE(box.font(), messageBoxFont);
    QCOMPARE(box.findChild<QLabel *>("qt_msgbox_label")->font(), messageBoxFont);
}

void TestMainForm::currentLineShowsFocus_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("key"); // on the column's Add
    QTest::newRow("events: Space") << "events" << int(Qt::Key_Space);
    QTest::newRow("leagues: Return") << "leagues" << int(Qt::Key_Return);
}

// After Add, the list has the focus, and its current line shows it: a frame of
// at least 3:1 against the line's highlight on its four edges, which the
// line has not without the focus.
void TestMainForm::currentLineShowsFocus()
{
    QFETCH(QString, column);
    QFETCH(int, key);
    MainForm &form = open();
    const ColumnControls controls = columnOf(form, column);
    controls.add->setFocus();
    QTest::keyClick(controls.add, Qt::Key(key));
    QVERIFY(controls.list->hasFocus());
    const QRect row = onDevice(controls.list->visualItemRect(controls.list->currentItem()),
        controls.list->devicePixelRatioF());
    auto framed = [&row](const QImage &shown) {
        const QColor paper = commonest(coloursIn(shown, row));
        auto ink
            = [&paper](const QColor &c) { return contrastRatio(c, paper) >= kVisibleContrast; };
        int edges = 0;
        for (int edge = 0; edge < 4; ++edge) {
            int most = 0;
            for (int in = 0; in < 3; ++in) // up to 3 pixels inside the line
                most = qMax(
                    most, edgeShare(shown, row.adjusted(in, in, -in, -in), edge, 3 - in, ink));
            edges += most >= 80;
        }
        return edges;
    };
    QCOMPARE(framed(controls.list->viewport()->grab().toImage()), 4);
    form.Text1->setFocus();
    QCOMPARE(framed(controls.list->viewport()->grab().toImage()), 0);
}

void TestMainForm::archiverFolders_data()
{
    QTest::addColumn<QString>("folder"); // the program's
    QTest::addColumn<bool>("archiver"); // one a zip tool deletes when it closes
    const QString temp = "C:\\Users\\x\\AppData\\Local\\Temp\\";
    QTest::newRow("7-Zip") << temp + "7zO4A2B1C3D\\Hostally" << true;
    QTest::newRow("7-Zip, the program alone") << temp + "7zO4A2B1C3D" << true;
    QTest::newRow("WinRAR") << temp + "Rar$EXa1234.5678\\Hostally" << true;
    QTest::newRow("Explorer's zip view") << temp + "Temp1_Hostally-win64.zip\\Hostally" << true;
    QTest::newRow("7zO outside Temp") << "C:\\Users\\x\\Desktop\\7zO4A2B1C3D\\Hostally" << false;
    QTest::newRow("7zO inside a name") << temp + "Old7zO\\Hostally" << false;
    QTest::newRow("Temp itself") << temp + "Hostally" << false;
    QTest::newRow("a zip's name outside Temp") << "D:\\Temp1_Hostally.zip\\Hostally" << false;
}

// A whole copy of the folder that a zip tool made to run the program from
// inside the zip file starts, once told that its counts would be lost there.
void TestMainForm::archiverFolders()
{
    QFETCH(QString, folder);
    QFETCH(bool, archiver);
    QCOMPARE(inArchiverTemp(folder + "\\data.txt"), archiver);
    QVERIFY(place(QString(folder).replace('\\', '/').mid(3), kData));
    m_form = openMainForm(m_path, &m_dialogs);
    QVERIFY(m_form);
    QVERIFY(m_dialogs.log().isEmpty()); // not before the window shows
    m_form->startUp();
    QCOMPARE(m_dialogs.log(),
        archiver ? QStringList {"error|Counts saved here would be lost: the zip tool deletes this "
                                "folder when it closes.\n\nHostally was started from inside its "
                                "zip file. Extract all files first (right-click the zip file and "
                                "choose Extract All), then start Hostally from the extracted "
                                "folder.|Hostally"}
                 : QStringList {});
}

QTEST_MAIN(TestMainForm)
#include "tst_main_form.moc"
