#include "start_up.h"

#include "dialogs.h"
#include "file_io.h"
#include "main_form.h"
#include "messages.h"

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

bool inArchiverTemp(const QString &dataPath)
{
    static const QRegularExpression folder(
        QStringLiteral(R"([\\/]temp[\\/](temp\d+_[^\\/]*\.zip|7zO[^\\/]*|rar\$ex[^\\/]*)[\\/])"),
        QRegularExpression::CaseInsensitiveOption);
    return folder.match(dataPath).hasMatch();
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
        // Never show a window whose Save would write empty tallies over the file.
        reportFailure(
            dialogs, nullptr, status, messages::cannotStart(status, inArchiverTemp(dataPath)));
        return nullptr;
    }
    return form;
}
