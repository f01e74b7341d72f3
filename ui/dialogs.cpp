#include "dialogs.h"

#include "status.h"

#include <QMessageBox>

#include <cstdio>

bool MessageBoxDialogs::askYesNo(QWidget *parent, const QString &prompt, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, prompt, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxDialogs::inform(QWidget *parent, const QString &prompt, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, prompt, QMessageBox::Ok, parent);
    box.exec();
}

void MessageBoxDialogs::showError(QWidget *parent, const QString &message, const QString &title)
{
    QMessageBox box(QMessageBox::Critical, title, message, QMessageBox::Ok, parent);
    box.exec();
}

void reportFailure(
    Dialogs *dialogs, QWidget *parent, const hostally::Status &status, const QString &explanation)
{
    const QString message = QString::fromStdString(status.toString());
    std::fprintf(stderr, "hostally: %s\n", qPrintable(message));
    dialogs->showError(parent, explanation.arg(message), QStringLiteral("Hostally"));
}
