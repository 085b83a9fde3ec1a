#include "app/UnixSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One flag per signal number: a burst of one kind is one request, however many came.
std::atomic<bool> pending[NSIG];
std::atomic<int> wakeFd{-1};
int readFd = -1;

// Only async-signal-safe work here. The write never blocks: when the socket is full, a wake-up
// is already waiting, and the flags say what it is for.
void onSignalRaised(int signal)
{
    const int savedErrno = errno;
    pending[signal].store(true);
    const int fd = wakeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

UnixSignals::UnixSignals(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
        return;
    readFd = pair[0];
    wakeFd.store(pair[1]);
    m_notifier = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::onSignal);

    struct sigaction action {};
    action.sa_handler = onSignalRaised;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : std::as_const(m_signals)) {
        if (signal > 0 && signal < NSIG)
            ::sigaction(signal, &action, nullptr);
    }
}

UnixSignals::~UnixSignals()
{
    // The handlers stay: a signal that comes while the program is ending is dropped rather than
    // killing it by the default action, so a stop always ends with the status it chose.
    const int fd = wakeFd.exchange(-1);
    ::close(fd);
    ::close(readFd);
    readFd = -1;
}

void UnixSignals::onSignal()
{
    char bytes[256];
    while (::read(readFd, bytes, sizeof bytes) > 0) {
    }
    for (const int signal : std::as_const(m_signals)) {
        if (signal > 0 && signal < NSIG && pending[signal].exchange(false))
            emit received(signal);
    }
}
