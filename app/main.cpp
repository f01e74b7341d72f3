#include "dialogs.h"
#include "end_from_outside.h"
#include "file_io.h"
#include "main_form.h"
#include "start_up.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Hostally"));
    QApplication::setDesktopFileName(QStringLiteral("hostally"));
    // Every window of the program, its message boxes too, shows the icon.
    QApplication::setWindowIcon(MainForm::icon());

    useWindowFontByDefault();

    MessageBoxDialogs dialogs;
    const std::unique_ptr<MainForm> form = openMainForm(hostally::dataFilePath(), &dialogs);
    if (!form)
        return 1;
    keepCountsWhenEndedFromOutside(form.get());
    form->show();
    return QApplication::exec();
}
