#include "main_form.h"

#include "fitting_label.h"
#include "hostally_icon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QImage>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <qdrawutil.h>

#include <utility>

namespace {

// The layout is drawn in twips; at 96 dots per inch 15 twips make a pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 6480 / kTwipsPerPixel;
constexpr int kClientHeight = 5190 / kTwipsPerPixel;
// One row of the lists: inside their borders lHosted holds 18 rows and
// lLeagues 3, each one line of the window font, 13 pixels.
constexpr int kRowHeight = 195 / kTwipsPerPixel;
constexpr int kEventRows = 18;
constexpr int kLeagueRows = 3;
// How often, and how many times, checkPlacement() runs after the window shows.
constexpr int kPlacementCheck = 50;
constexpr int kPlacementChecks = 40;

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
        height / kTwipsPerPixel);
}

QFont lucidaConsole(qreal pointSize, bool bold)
{
    QFont font;
    // Where Lucida Console is missing, another fixed-pitch face, not what
    // fontconfig would offer for the name (a proportional sans).
    font.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
        QStringLiteral("Liberation Mono"), QStringLiteral("Noto Mono"),
        QStringLiteral("monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Makes a control of the window: its designer name is its object name, and
// it stands at a fixed place that nothing moves.
template<typename Widget, typename... Args>
Widget *place(QWidget *parent, const char *name, const QRect &geometry, Args &&...args)
{
    auto *widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// A frame as the layout draws it: an etched border whose top edge runs
// through the middle of the caption, the caption standing on it.
class CaptionedFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        const int edge = metrics.height() / 2;
        qDrawShadeRect(&painter, QRect(0, edge, width(), height() - edge), palette(), true);
        // The caption sits in a gap of the border, one character in.
        const int gap = metrics.horizontalAdvance(QLatin1Char(' ')) / 2;
        const QRect caption(metrics.horizontalAdvance(QLatin1Char(' ')), 0,
            metrics.horizontalAdvance(title()) + 2 * gap, metrics.height());
        painter.fillRect(caption, palette().window());
        style()->drawItemText(&painter, caption, Qt::AlignCenter, palette(), isEnabled(), title(),
            QPalette::WindowText);
    }
};

} // namespace

MainForm::MainForm(const QString &dataPath, Dialogs *dialogs, QWidget *parent)
    : QMainWindow(parent), m_session(dataPath), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Hostally"));
    // Nothing in the window moves or grows: it can be minimized and closed,
    // never maximized or resized, and on Windows it has no sizing frame.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(icon());
    setFont(windowFont());

    createControls();

    connect(Command1, &QPushButton::clicked, this, [this] { stepSelected(m_events, true); });
    connect(Command2, &QPushButton::clicked, this, [this] { stepSelected(m_events, false); });
    connect(Command3, &QPushButton::clicked, this, [this] { resetColumn(m_events); });
    connect(ladd, &QPushButton::clicked, this, [this] { stepSelected(m_leagues, true); });
    connect(lRemove, &QPushButton::clicked, this, [this] { stepSelected(m_leagues, false); });
    connect(cReset, &QPushButton::clicked, this, [this] { resetColumn(m_leagues); });
    connect(mSave, &QAction::triggered, this, [this] {
        if (saveTables())
            m_session.setChanged(false);
    });
    connect(mQuit, &QAction::triggered, this, &QWidget::close);

    QWidget *const order[]
        = {lHosted, Command1, Command2, Command3, lLeagues, ladd, lRemove, cReset, Text1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
    m_events = {false, lHosted, total};
    m_leagues = {true, lLeagues, total2};

    m_recoveryTimer.setSingleShot(true);
    m_recoveryTimer.setInterval(1000);
    connect(&m_recoveryTimer, &QTimer::timeout, this, [this] { m_session.keepUnsavedSoon(); });
    m_placement.setInterval(kPlacementCheck);
    connect(&m_placement, &QTimer::timeout, this, &MainForm::checkPlacement);
#if QT_CONFIG(sessionmanager)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { endSession(); });
#endif
    m_session.setRecoveryListener([this](const hostally::Status &written) {
        QMetaObject::invokeMethod(
            this, [this, written] { recoveryWritten(written); }, Qt::QueuedConnection);
    });

    // The window is exactly the client area plus the menu bar, and stays so.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    lHosted->setFocus();
}

QIcon MainForm::icon()
{
    using namespace hostally_icon;
    QImage image(kPixels, kSize, kSize, kSize, QImage::Format_Indexed8);
    image.setColorTable(QList<QRgb>(std::begin(kPalette), std::end(kPalette)));
    return QIcon(QPixmap::fromImage(image));
}

QFont MainForm::windowFont()
{
    return lucidaConsole(9.75, false);
}

QFont MainForm::totalFont()
{
    return lucidaConsole(12, false);
}

void MainForm::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    // Labels are read as they show; totals also name their list, and buttons
    // their column. Enter and Return press the focused button, as Space does.
    auto makeLabel
        = [client](const char *name, const char *text, const QRect &geometry, const QFont &font) {
              auto *label = place<FittingLabel>(client, name, geometry, QString::fromLatin1(text));
              label->setFont(font);
              label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
              return label;
          };
    auto makeButton
        = [client](const char *name, const char *text, const char *spoken, int left, int width) {
              auto *button = place<QPushButton>(
                  client, name, twips(left, 480, width, 375), QString::fromLatin1(text));
              button->setAutoDefault(true);
              button->setAccessibleName(QString::fromLatin1(spoken));
              return button;
          };
    const QFont headingFont = lucidaConsole(9.75, true);

    lHosted
        = place<TallyList>(client, "lHosted", twips(120, 1080, 2775, 3570), kEventRows, kRowHeight);
    lHosted->setAccessibleName(QStringLiteral("Events"));
    Label1 = makeLabel("Label1", "Choose an event:", twips(240, 120, 2655, 255), headingFont);
    Command1 = makeButton("Command1", "Add", "Add event", 120, 855);
    Command2 = makeButton("Command2", "Remove", "Remove event", 1080, 855);
    Command3 = makeButton("Command3", "Reset", "Reset events", 2040, 855);
    total = makeLabel("total", "Total Events: 0", twips(120, 4800, 2775, 375), totalFont());
    lLeagues = place<TallyList>(
        client, "lLeagues", twips(3360, 1080, 2775, 645), kLeagueRows, kRowHeight);
    lLeagues->setAccessibleName(QStringLiteral("Leagues"));
    total2 = makeLabel("total2", "Label2", twips(3360, 1920, 2775, 375), totalFont());
    Label2 = makeLabel("Label2", "Choose a league:", twips(3360, 120, 2175, 255), headingFont);
    ladd = makeButton("ladd", "Add", "Add league", 3360, 855);
    lRemove = makeButton("lRemove", "Remove", "Remove league", 4320, 855);
    cReset = makeButton("cReset", "Reset", "Reset leagues", 5280, 975);
    About = place<CaptionedFrame>(
        client, "About", twips(3120, 2640, 3255, 2055), QStringLiteral("About"));
    Text1 = place<QPlainTextEdit>(About, "Text1", twips(120, 240, 2895, 1575),
        QStringLiteral("Hostally counts the leagues and events you host. "
                       "Your counts live in data.txt, beside the program."));
    Text1->setReadOnly(true);
    // Read-only, yet still reachable with Tab and selectable from the keyboard.
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setFocusPolicy(Qt::StrongFocus);
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(QStringLiteral("About Hostally"));

    const auto named = [](auto *object, const char *name) {
        object->setObjectName(QLatin1String(name));
        return object;
    };
    mFile = named(menuBar()->addMenu(QStringLiteral("File")), "mFile");
    mFile->setAccessibleName(mFile->title());
    mSave = named(mFile->addAction(QStringLiteral("Save")), "mSave");
    a = named(mFile->addSeparator(), "a");
    mQuit = named(mFile->addAction(QStringLiteral("Quit")), "mQuit");
}

bool MainForm::event(QEvent *event)
{
    // On another screen the window may have another scale.
    if (event->type() == QEvent::ScreenChangeInternal)
        alignClientToDevicePixels();
    return QMainWindow::event(event);
}

void MainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_placement.isActive() || m_placementChecks > 0)
        return;
    alignClientToDevicePixels();
    centre();
    m_placement.start();
}

void MainForm::checkPlacement()
{
    // An X11 window manager adds its frame once the window is mapped, and
    // makes its size known later still, with no event to say so: look again
    // for a while, and centre the frame again whenever it has changed.
    if (const QWindow *window = windowHandle();
        window && window->frameMargins() != m_centredMargins)
        centre();
    if (++m_placementChecks >= kPlacementChecks)
        m_placement.stop();
}

void MainForm::alignClientToDevicePixels()
{
    // At a fractional scale (125 %, 150 %, 175 %) the toolkit rounds inwards
    // the clip of a control that starts inside a device pixel, and the control
    // loses the top or bottom line of its frame.
    const qreal ratio = devicePixelRatioF();
    const auto endsOnDevicePixel
        = [ratio](int height) { return qFuzzyIsNull(height * ratio - qRound(height * ratio)); };
    const int natural = menuBar()->heightForWidth(kClientWidth);
    int height = natural;
    while (height < natural + 8 && !endsOnDevicePixel(height))
        ++height;
    menuBar()->setFixedHeight(endsOnDevicePixel(height) ? height : natural);
}

void MainForm::centre()
{
    const QWindow *window = windowHandle();
    const QScreen *where = screen();
    if (!window || !where)
        return;
    // The frame's margins as the window system gives them now, around the
    // window's own size: the widget keeps the margins it was first told of,
    // and its native window may not have taken its fixed size yet.
    const QMargins margins = window->frameMargins();
    QRect frame(QPoint(), size().grownBy(margins));
    frame.moveCenter(where->availableGeometry().center());
    setGeometry(QRect(frame.topLeft() + QPoint(margins.left(), margins.top()), size()));
    m_centredMargins = margins;
}

void MainForm::closeEvent(QCloseEvent *event)
{
    event->setAccepted(confirmClose());
}
