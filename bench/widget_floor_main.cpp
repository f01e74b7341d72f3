// The toolkit's floor for a window like Hostally's: the same widgets at the
// same places in the same fonts (a File menu, two lists with a few lines, six
// buttons, four labels, a frame and its text box), and nothing behind them:
// no data file, no commands, no drawing of its own. What Hostally costs
// beyond this is Hostally's.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QFont fixedPitch(qreal points, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
        QStringLiteral("Liberation Mono"), QStringLiteral("Noto Mono"),
        QStringLiteral("monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Twips to pixels at 96 dots per inch.
template<typename Widget> Widget *at(Widget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(left / 15, top / 15, width / 15, height / 15);
    return widget;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setFont(fixedPitch(9.75, false));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Floor"));
    auto *client = new QWidget(&window);
    client->setFixedSize(432, 346);
    window.setCentralWidget(client);

    auto *events = at(new QListWidget(client), 120, 1080, 2775, 3570);
    events->addItems({QStringLiteral("Quiz Night   - 8"), QStringLiteral("Karaoke      - 3")});
    auto *leagues = at(new QListWidget(client), 3360, 1080, 2775, 645);
    leagues->addItems({QStringLiteral("Premier      - 12"), QStringLiteral("Sundays      - 5"),
        QStringLiteral("Juniors      - 0")});
    const int lefts[] = {120, 1080, 2040, 3360, 4320, 5280};
    const char *const captions[] = {"Add", "Remove", "Reset"};
    for (int i = 0; i < 6; ++i)
        at(new QPushButton(QString::fromLatin1(captions[i % 3]), client), lefts[i], 480,
            i == 5 ? 975 : 855, 375);
    at(new QLabel(QStringLiteral("Choose an event:"), client), 240, 120, 2655, 255)
        ->setFont(fixedPitch(9.75, true));
    at(new QLabel(QStringLiteral("Choose a league:"), client), 3360, 120, 2175, 255)
        ->setFont(fixedPitch(9.75, true));
    at(new QLabel(QStringLiteral("Total Hosted:  11"), client), 120, 4800, 2775, 375)
        ->setFont(fixedPitch(12, false));
    at(new QLabel(QStringLiteral("Total Hosted:  17"), client), 3360, 1920, 2775, 375)
        ->setFont(fixedPitch(12, false));
    auto *about = at(new QGroupBox(QStringLiteral("About"), client), 3120, 2640, 3255, 2055);
    at(new QPlainTextEdit(QStringLiteral("Counts the leagues and events you host."), about), 120,
        240, 2895, 1575);

    QMenu *file = window.menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(QStringLiteral("Save"));
    file->addSeparator();
    file->addAction(QStringLiteral("Quit"));
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);
    events->setFocus();
    window.show();
    return QApplication::exec();
}
