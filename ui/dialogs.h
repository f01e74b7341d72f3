#pragma once

#include <QString>

class QWidget;

namespace hostally {
struct Status;
}

// The window's questions and notices. The program shows message boxes; tests
// answer with a scripted stand-in, since a modal box would block them.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The answer that Return gives to a Yes/No question.
    enum class Default { Yes, No };
    // What Escape and the box's close button do to a Yes/No question: answer
    // No, or take the user back to the window, the command that asked given
    // up. Escape never picks an answer that throws work away.
    enum class Escape { AnswersNo, GoesBack };
    // The user's answer: Yes, No, or back to the window (Escape::GoesBack only).
    enum class Answer { Yes, No, Back };

    // Asks a question with the buttons Yes and No (Yes first), `byDefault`
    // the default and Escape acting as `escape` says.
    virtual Answer ask(QWidget *parent, const QString &prompt, const QString &title,
        Default byDefault, Escape escape)
        = 0;

    // Shows a notice with an OK button.
    virtual void inform(QWidget *parent, const QString &prompt, const QString &title) = 0;

    // Shows an error with an OK button.
    virtual void showError(QWidget *parent, const QString &message, const QString &title) = 0;
};

// Dialogs shown as modal QMessageBoxes.
class MessageBoxDialogs : public Dialogs {
public:
    Answer ask(QWidget *parent, const QString &prompt, const QString &title, Default byDefault,
        Escape escape) override;
    void inform(QWidget *parent, const QString &prompt, const QString &title) override;
    void showError(QWidget *parent, const QString &message, const QString &title) override;
};

// Reports a failed load or save: "hostally: " and the status on stderr as
// tools read it ("file:line: ..."), and an error box titled "Hostally" showing
// `explanation` with %1 replaced by the status as people read it ("Line 7 of
// file: ...").
void reportFailure(
    Dialogs *dialogs, QWidget *parent, const hostally::Status &status, const QString &explanation);
