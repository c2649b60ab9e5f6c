#include "UnixSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace corvalle {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The write end for the handler; one UnixSignals object exists per process.
volatile std::sig_atomic_t gWriteFD = -1;

extern "C" void forwardSignal(int signalNumber) {
    // Only async-signal-safe calls here: one write of one byte.
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    if (gWriteFD >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(gWriteFD, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

UnixSignals::UnixSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        return;
    }
    gWriteFD = fds_[0];
    notifier_ = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UnixSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &previous_[i]);
    }
    installed_ = true;
}

UnixSignals::~UnixSignals() {
    if (installed_) {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }
    gWriteFD = -1;
    delete notifier_;
    for (int& fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void UnixSignals::readSignal() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(fds_[1], &byte, 1) == 1) {
        last = byte;
    }
    if (last != 0) {
        emit quitRequested(last);
    }
}

} // namespace corvalle
