#include "mainwindow/SignalPipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int g_fds[2] = {-1, -1};

extern "C" void onSignal(int signalNumber) {
    // Only async-signal-safe calls here; a full pipe just drops the byte, which loses nothing
    // because one pending close request is as good as several.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), m_signals(signalNumbers) {
    if (g_fds[0] != -1)
        return; // one instance per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) {
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    ::fcntl(g_fds[0], F_SETFL, ::fcntl(g_fds[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(g_fds[1], F_SETFL, ::fcntl(g_fds[1], F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::readPending);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_active = true;
    for (int signalNumber : m_signals)
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            m_active = false;
}

SignalPipe::~SignalPipe() {
    if (!m_notifier)
        return;
    for (int signalNumber : m_signals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void SignalPipe::readPending() {
    unsigned char bytes[16];
    std::vector<int> received;
    for (;;) {
        const ssize_t n = ::read(g_fds[1], bytes, sizeof bytes);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            received.push_back(bytes[i]);
    }
    for (int signalNumber : received)
        emit signalled(signalNumber);
}
