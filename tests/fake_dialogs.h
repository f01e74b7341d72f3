#pragma once

#include "dialogs.h"

#include <QList>
#include <QString>

// Answers the window's questions from a script and records everything it was
// asked or shown, so tests can check prompts, titles and their order.
class FakeDialogs : public Dialogs {
public:
    struct Call {
        QString kind; // "ask", "inform" or "error"
        QString prompt;
        QString title;
        QString keys; // for "ask": "default Yes" or "default No", and what Escape does
    };

    // A scripted answer: true for Yes, false for No, or Answer::Back.
    struct Reply {
        Reply(bool yes = false) : answer(yes ? Answer::Yes : Answer::No) { }
        Reply(Answer given) : answer(given) { }
        Answer answer;
    };

    Answer ask(QWidget *, const QString &prompt, const QString &title, Default byDefault,
        Escape escape) override
    {
        const QString keys = QStringLiteral("default %1|Escape %2")
                                 .arg(byDefault == Default::Yes ? "Yes" : "No",
                                     escape == Escape::AnswersNo ? "answers No" : "goes back");
        calls.append({QStringLiteral("ask"), prompt, title, keys});
        if (answers.isEmpty()) {
            unexpectedQuestions.append(prompt);
            return Answer::No;
        }
        return answers.takeFirst().answer;
    }

    void inform(QWidget *, const QString &prompt, const QString &title) override
    {
        calls.append({QStringLiteral("inform"), prompt, title, {}});
    }

    void showError(QWidget *, const QString &message, const QString &title) override
    {
        calls.append({QStringLiteral("error"), message, title, {}});
    }

    // Calls as "kind|prompt|title" lines, easy to compare; a question adds
    // "|default Yes|Escape answers No" or the like.
    QStringList log() const
    {
        QStringList lines;
        for (const Call &call : calls)
            lines.append(call.kind + '|' + call.prompt + '|' + call.title
                + (call.keys.isEmpty() ? QString() : '|' + call.keys));
        return lines;
    }

    QList<Reply> answers;
    QList<Call> calls;
    QStringList unexpectedQuestions;
};
