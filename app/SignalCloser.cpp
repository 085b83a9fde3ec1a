#include "app/SignalCloser.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
constexpr int closingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe work here: the event loop picks the byte up.
void onSignalRaised(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

SignalCloser::SignalCloser(std::function<void()> closeWindow)
    : m_closeWindow(std::move(closeWindow))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::onSignal);

    struct sigaction action {};
    action.sa_handler = onSignalRaised;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : closingSignals)
        ::sigaction(signal, &action, nullptr);
}

SignalCloser::~SignalCloser()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (const int signal : closingSignals)
        ::sigaction(signal, &action, nullptr);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void SignalCloser::onSignal()
{
    char byte;
    [[maybe_unused]] const auto received = ::read(signalPipe[0], &byte, 1);
    m_closeWindow();
}
