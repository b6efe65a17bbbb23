#include "Signals.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX

#  include <QSocketNotifier>

#  include <cerrno>
#  include <csignal>
#  include <fcntl.h>
#  include <sys/socket.h>
#  include <unistd.h>

namespace platform {

namespace {

// The handler may only do async-signal-safe things, so it writes one byte into a socket pair and
// the event loop picks it up on the other end.
int signalPair[2] = { -1, -1 };
volatile std::sig_atomic_t firstSignal = 0;

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    if (firstSignal == 0)
        firstSignal = signalNumber;
    const char byte = static_cast<char>(signalNumber);
    // A full pair means an earlier signal is still waiting to be seen: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
    errno = savedErrno;
}

bool makeNonBlockingCloseOnExec(int fd)
{
    const int statusFlags = ::fcntl(fd, F_GETFL);
    const int descriptorFlags = ::fcntl(fd, F_GETFD);
    return statusFlags >= 0 && descriptorFlags >= 0
            && ::fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) == 0
            && ::fcntl(fd, F_SETFD, descriptorFlags | FD_CLOEXEC) == 0;
}

// Returns the first signal waiting, or 0.
int drainSignalPair()
{
    int first = 0;
    char buffer[16];
    ssize_t count = 0;
    while ((count = ::read(signalPair[1], buffer, sizeof buffer)) > 0) {
        if (first == 0)
            first = static_cast<unsigned char>(buffer[0]);
    }
    return first;
}

void installHandler(int signalNumber)
{
    struct sigaction previous = {};
    if (::sigaction(signalNumber, nullptr, &previous) != 0)
        return;
    if (previous.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

void OnTerminationSignals(std::function<void(int signalNumber)> handler)
{
    auto *application = QCoreApplication::instance();
    if (application == nullptr || signalPair[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return;
    if (!makeNonBlockingCloseOnExec(signalPair[0]) || !makeNonBlockingCloseOnExec(signalPair[1])) {
        ::close(signalPair[0]);
        ::close(signalPair[1]);
        signalPair[0] = signalPair[1] = -1;
        return;
    }

    auto *notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, application);
    QObject::connect(notifier, &QSocketNotifier::activated, application,
                     [handler = std::move(handler)] {
                         const int signalNumber = drainSignalPair();
                         if (signalNumber > 0)
                             handler(signalNumber);
                     });

    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP })
        installHandler(signalNumber);
}

int PendingTerminationSignal()
{
    return firstSignal;
}

int TerminationWakeDescriptor()
{
    return signalPair[1];
}

} // namespace platform

#elif defined(Q_OS_WIN)

#  include <atomic>
#  include <csignal>
#  include <windows.h>

namespace platform {

namespace {

std::function<void(int signalNumber)> &handlerSlot()
{
    static std::function<void(int signalNumber)> handler;
    return handler;
}

std::atomic<int> firstSignal{ 0 };

// The system calls this on a thread of its own, so it only hands the event to the event loop.
BOOL WINAPI onConsoleControl(DWORD event)
{
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signalNumber = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signalNumber = SIGTERM;
        break;
    default:
        return FALSE;
    }
    QCoreApplication *application = QCoreApplication::instance();
    if (application == nullptr)
        return FALSE;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signalNumber);
    QMetaObject::invokeMethod(
            application,
            [signalNumber] {
                if (handlerSlot())
                    handlerSlot()(signalNumber);
            },
            Qt::QueuedConnection);
    if (signalNumber == SIGTERM) {
        // The system ends the process as soon as this returns (and a closed console after 5 s in
        // any case): meanwhile the program ends the ordinary way, and its exit ends this wait.
        ::Sleep(4500);
    }
    return TRUE;
}

} // namespace

void OnTerminationSignals(std::function<void(int signalNumber)> handler)
{
    static std::atomic<bool> installed{ false };
    if (QCoreApplication::instance() == nullptr || installed.exchange(true))
        return;
    handlerSlot() = std::move(handler);
    // A program started with Ctrl-C ignored (as a child of a process that ignores it) is not
    // told of Ctrl-C; the system keeps that rule for this handler too.
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int PendingTerminationSignal()
{
    return firstSignal.load();
}

int TerminationWakeDescriptor()
{
    // Console events come on a thread of their own, not through a descriptor.
    return -1;
}

} // namespace platform

#else

namespace platform {

void OnTerminationSignals(std::function<void(int signalNumber)> handler)
{
    Q_UNUSED(handler);
}

int PendingTerminationSignal()
{
    return 0;
}

int TerminationWakeDescriptor()
{
    return -1;
}

} // namespace platform

#endif

namespace platform {

void EndOnTerminationSignals()
{
    // exit() rather than quit(): quit() first offers the windows a close, which they may refuse,
    // while a request to terminate must end every running loop, a modal box's too.
    OnTerminationSignals([](int) { QCoreApplication::exit(0); });
}

} // namespace platform
