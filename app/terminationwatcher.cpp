#include "app/terminationwatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int WatchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only touch async-signal-safe things: this descriptor and write().
int signalWriteFd = -1;
int signalReadFd = -1;

void onSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const ssize_t ignored = ::write(signalWriteFd, &byte, 1);
    (void)ignored;
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
    // One watcher at a time owns the signals.
    if (signalWriteFd != -1)
        return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return;
    signalWriteFd = fds[0];
    signalReadFd = fds[1];

    m_notifier = new QSocketNotifier(signalReadFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::onSignalByte);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : WatchedSignals) {
        // A signal ignored by whoever started us stays ignored (nohup, a shell's background
        // job): the user asked for the program to survive it.
        struct sigaction previous = {};
        if (::sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(s, &action, nullptr);
        m_handled |= 1u << s;
    }
}

TerminationWatcher::~TerminationWatcher()
{
    if (!m_notifier)
        return;
    for (int s : WatchedSignals)
        if (m_handled & (1u << s))
            ::signal(s, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(signalWriteFd);
    ::close(signalReadFd);
    signalWriteFd = -1;
    signalReadFd = -1;
}

void TerminationWatcher::onSignalByte()
{
    unsigned char byte = 0;
    while (::read(signalReadFd, &byte, 1) == 1) {
        emit terminationRequested(byte);
        // exit(), not quit(): from Qt 6 on, quit() first asks every window to close, and the
        // settings window refuses (it goes to the tray), which would cancel the quit.
        QCoreApplication::exit(0);
    }
}
