#include "dialogs.h"

#include "status.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>

#include <cstdio>

namespace {

// A Yes/No box. QMessageBox takes Escape and the window's close button as No
// by itself; with Escape::GoesBack they close the box with no button chosen.
class QuestionBox : public QMessageBox {
public:
    QuestionBox(QWidget *parent, const QString &prompt, const QString &title,
        Dialogs::Default byDefault, Dialogs::Escape escape)
        : QMessageBox(
            QMessageBox::NoIcon, title, prompt, QMessageBox::Yes | QMessageBox::No, parent),
          m_escape(escape)
    {
        if (escape == Dialogs::Escape::AnswersNo)
            setEscapeButton(QMessageBox::No);
        setDefaultButton(byDefault == Dialogs::Default::Yes ? QMessageBox::Yes : QMessageBox::No);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // QMessageBox, left with no escape button of its own, would take the
        // only rejecting button, No.
        if (m_escape == Dialogs::Escape::GoesBack && event->matches(QKeySequence::Cancel))
            done(kBack);
        else
            QMessageBox::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override
    {
        if (m_escape == Dialogs::Escape::GoesBack) {
            done(kBack);
            event->accept();
        } else {
            QMessageBox::closeEvent(event);
        }
    }

private:
    // What exec() returns when the box went back with no button chosen.
    static constexpr int kBack = -1;

    Dialogs::Escape m_escape;
};

// Shows the box; returns what exec() returns. The window manager sets the title
// in the frame beside an icon and buttons: the box is made as wide as the title
// in bold and four squares, each two lines of text wide.
int execWithRoomForTitle(QMessageBox &&box)
{
    QFont bold = box.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 4 * 2 * metrics.height();
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
    // Over a window not shown yet (the restore offer), centre on the screen.
    if (QWidget *parent = box.parentWidget(); parent && !parent->isVisible())
        box.setParent(nullptr, box.windowFlags());
    return box.exec();
}

} // namespace

Dialogs::Answer MessageBoxDialogs::ask(
    QWidget *parent, const QString &prompt, const QString &title, Default byDefault, Escape escape)
{
    const int button = execWithRoomForTitle(QuestionBox(parent, prompt, title, byDefault, escape));
    // No button chosen: only Escape::GoesBack closes the box so.
    return button == QMessageBox::Yes ? Answer::Yes
        : button == QMessageBox::No   ? Answer::No
                                      : Answer::Back;
}

void MessageBoxDialogs::inform(QWidget *parent, const QString &prompt, const QString &title)
{
    execWithRoomForTitle(QMessageBox(QMessageBox::NoIcon, title, prompt, QMessageBox::Ok, parent));
}

void MessageBoxDialogs::showError(QWidget *parent, const QString &message, const QString &title)
{
    execWithRoomForTitle(
        QMessageBox(QMessageBox::Critical, title, message, QMessageBox::Ok, parent));
}

void reportFailure(
    Dialogs *dialogs, QWidget *parent, const hostally::Status &status, const QString &explanation)
{
    std::fprintf(stderr, "hostally: %s\n", qPrintable(QString::fromStdString(status.toString())));
    dialogs->showError(parent, explanation.arg(QString::fromStdString(status.toText())),
        QStringLiteral("Hostally"));
}
