#include "start_up.h"

#include "dialogs.h"
#include "main_form.h"

#include <cstdio>

std::unique_ptr<MainForm> openMainForm(const QString &dataPath, Dialogs *dialogs)
{
    auto form = std::make_unique<MainForm>(dataPath, dialogs);
    const hostally::Status status = form->formLoad();
    if (status.ok)
        return form;
    // Without its data the program cannot start: say why and where, and never
    // show a window whose Save would write empty tallies over the file.
    const QString message = QString::fromStdString(status.toString());
    std::fprintf(stderr, "hostally: %s\n", qPrintable(message));
    dialogs->showError(nullptr,
        QStringLiteral("Hostally cannot start: its data file could not be read.\n\n%1")
            .arg(message),
        QStringLiteral("Hostally"));
    return nullptr;
}
