#include "backends/linux/UnixSignals.h"

#include "platform/Logger.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array handledSignals{SIGTERM, SIGINT, SIGHUP};

// The write end for the handler; -1 when no UnixSignals exists.
std::atomic<int> signalSocket{-1};

void onSignal(int number) {
    const int saved = errno;
    const int fd = signalSocket.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // A full socket already holds a request to quit: dropping this one is fine.
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

UnixSignals::UnixSignals(QObject* parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_sockets.data()) !=
        0) {
        Logger("App").error("Could not watch for termination signals: %{public}s",
                            std::strerror(errno));
        return;
    }
    signalSocket.store(m_sockets[0]);
    for (int number : handledSignals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) != 0) {
            Logger("App").error("Could not handle signal %ld: %{public}s", number,
                                std::strerror(errno));
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_sockets[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &UnixSignals::readSignals);
}

UnixSignals::~UnixSignals() {
    for (int number : handledSignals) {
        std::signal(number, SIG_DFL);
    }
    signalSocket.store(-1);
    m_notifier.reset();
    for (int fd : m_sockets) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void UnixSignals::readSignals() {
    unsigned char byte = 0;
    while (::read(m_sockets[1], &byte, 1) == 1) {
        Q_EMIT terminationRequested(byte);
    }
}
