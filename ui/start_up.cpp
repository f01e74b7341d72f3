#include "start_up.h"

#include "data_file.h"
#include "dialogs.h"
#include "main_form.h"

#include <QApplication>
#include <QRegularExpression>

void useWindowFontByDefault()
{
    // Qt lays out a blank document in the default font while it builds the
    // About text: with the platform's font, start-up loaded a font file for
    // nothing shown. Menus and message boxes, windows of their own, keep every
    // property of the font they had, so none is filled in from the new one.
    auto kept = [](const char *className) {
        QFont font = QApplication::font(className);
        font.setResolveMask(QFont::AllPropertiesResolved);
        return font;
    };
    const QFont menuFont = kept("QMenu");
    const QFont messageBoxFont = kept("QMessageBox");
    // QGuiApplication's setter, unlike QApplication's, leaves the fonts the
    // platform theme gives widget classes in place.
    QGuiApplication::setFont(MainForm::windowFont());
    QApplication::setFont(menuFont, "QMenu");
    QApplication::setFont(messageBoxFont, "QMessageBox");
}

std::unique_ptr<MainForm> openMainForm(const QString &dataPath, Dialogs *dialogs)
{
    // While the data file is waited for, the cursor says so.
    hostally::setWaitHandler([](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    });
    auto form = std::make_unique<MainForm>(dataPath, dialogs);
    if (const hostally::Status status = form->formLoad(); !status.ok) {
        // Without its data the program cannot start: say why and where, and
        // never show a window whose Save would write empty tallies over the
        // file.
        QString explanation
            = QStringLiteral("Hostally cannot start: its data file could not be read.\n\n%1");
        // A zip tool puts the program, without its data.txt, in a folder of
        // its own when it is opened from inside the zip file: Explorer's
        // "Temp1_Hostally.zip" in the temporary folder, 7-Zip's "7zO..." or
        // WinRAR's "Rar$EX...".
        static const QRegularExpression openedZip(
            QStringLiteral(
                R"([\\/]temp[\\/](temp\d+_[^\\/]*\.zip|7zO[^\\/]*|rar\$ex[^\\/]*)[\\/])"),
            QRegularExpression::CaseInsensitiveOption);
        if (openedZip.match(dataPath).hasMatch())
            explanation += QStringLiteral(
                "\n\nHostally was started from inside its zip file. Extract all files first "
                "(right-click the zip file and choose Extract All), then start Hostally from "
                "the extracted folder.");
        reportFailure(dialogs, nullptr, status, explanation);
        return nullptr;
    }
    // Nothing counted in a window whose folder or data file cannot be written
    // could ever be saved: say so before the counting starts, while quitting
    // loses nothing, then open as usual.
#ifdef Q_OS_WIN
    const QString writable = QStringLiteral("Documents");
#else
    const QString writable = QStringLiteral("your home folder");
#endif
    if (const hostally::Status folder = hostally::checkFolderWritable(dataPath); !folder.ok)
        reportFailure(dialogs, nullptr, folder,
            QStringLiteral("Counts cannot be saved in this folder, so nothing you count "
                           "in this window could be kept.\n\n%1\n\n"
                           "Quit Hostally now, move the Hostally folder somewhere you can "
                           "write, such as ")
                + writable + QStringLiteral(", and start it from there."));
    else if (const hostally::Status file = hostally::checkFileWritable(dataPath); !file.ok)
        reportFailure(dialogs, nullptr, file,
            QStringLiteral("Counts cannot be saved in data.txt, so nothing you count in "
                           "this window could be kept.\n\n%1\n\n"
                           "Quit Hostally now, make data.txt writable, and start it again."));
    // Counts a Hostally that was ended from outside could not save, offered
    // before the window can be used.
    form->offerUnsavedCounts();
    return form;
}
