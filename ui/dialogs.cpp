#include "dialogs.h"

#include <QMessageBox>

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
