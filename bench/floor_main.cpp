// The toolkit's floor for Hostally's start-up: a bare main window with a File
// menu and Hostally's fixed client size, and nothing else.
#include <QApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Floor"));
    auto *client = new QWidget(&window);
    client->setFixedSize(432, 346);
    window.setCentralWidget(client);
    QMenu *file = window.menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(QStringLiteral("Save"));
    file->addSeparator();
    file->addAction(QStringLiteral("Quit"));
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);
    window.show();
    return QApplication::exec();
}
