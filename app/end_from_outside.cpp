#include "end_from_outside.h"

#include "main_form.h"

#include <QCoreApplication>

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <QAbstractNativeEventFilter>

#include <windows.h>
#endif

#if defined(Q_OS_UNIX)

namespace {

// A handler may do next to nothing safely: it writes the signal's number to
// this socket, and the event loop, woken by it, does the rest.
int signalSocket[2] = {-1, -1};

void onSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    const ssize_t written = ::write(signalSocket[1], &byte, 1);
    static_cast<void>(written);
}

} // namespace

void keepCountsWhenEndedFromOutside(MainForm *form)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return;
    // A burst of signals fills the socket rather than blocking a handler.
    ::fcntl(signalSocket[1], F_SETFL, ::fcntl(signalSocket[1], F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, form);
    QObject::connect(notifier, &QSocketNotifier::activated, form, [form] {
        unsigned char byte = 0;
        if (::read(signalSocket[0], &byte, 1) != 1)
            return;
        form->keepUnsavedCountsNow();
        // Ends with the signal's own status, as the shell and the session
        // expect of a program that a signal ended.
        std::signal(byte, SIG_DFL);
        std::raise(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        // A signal ignored at start stays ignored, as for any program: nohup
        // ignores SIGHUP so that a closed terminal leaves the window running,
        // and a shell starts background jobs with SIGINT ignored.
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

#elif defined(Q_OS_WIN)

namespace {

// Windows asks each window whether the session may end (WM_QUERYENDSESSION),
// then tells it that it ends (WM_ENDSESSION), and may end the process any time
// after that. The counts are on the disk before either is answered.
class SessionEndFilter : public QAbstractNativeEventFilter {
public:
    explicit SessionEndFilter(MainForm *form) : m_form(form) { }

    bool nativeEventFilter(const QByteArray &, void *message, qintptr *result) override
    {
        const auto *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_QUERYENDSESSION) {
            m_form->endSession();
            *result = TRUE;
            return true;
        }
        if (msg->message == WM_ENDSESSION) {
            if (msg->wParam) {
                m_form->endSession();
                m_form->close();
                QCoreApplication::quit();
            } else {
                // Another program called the session end off: the window
                // stays, and closing it asks about unsaved counts again.
                m_form->sessionEndCalledOff();
            }
            *result = 0;
            return true;
        }
        return false;
    }

private:
    MainForm *m_form;
};

} // namespace

void keepCountsWhenEndedFromOutside(MainForm *form)
{
    static SessionEndFilter filter(form);
    QCoreApplication::instance()->installNativeEventFilter(&filter);
}

#else

void keepCountsWhenEndedFromOutside(MainForm *)
{
}

#endif
