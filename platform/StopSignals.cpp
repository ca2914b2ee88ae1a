#include "platform/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

// Written only while no handler is installed; read by the handler.
volatile sig_atomic_t wakeFd = -1;
// A closed terminal or SSH session (SIGHUP) stops the work as SIGTERM does.
constexpr int StopSignalNumbers[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(StopSignalNumbers)];

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already says "stop"; the result is of no interest.
    if (wakeFd >= 0)
        (void)!::write(wakeFd, &byte, 1);
    errno = saved;
}

} // namespace

bool TStopSignals::Install() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    readFd_ = fds[0];
    writeFd_ = fds[1];
    wakeFd = writeFd_;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on: the loop, not the call, decides to stop.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(StopSignalNumbers); ++i)
        if (::sigaction(StopSignalNumbers[i], &action, &previous[i]) != 0) {
            while (i-- > 0)
                ::sigaction(StopSignalNumbers[i], &previous[i], nullptr);
            return false;
        }
    installed_ = true;
    return true;
}

bool TStopSignals::Take() {
    bool any = false;
    char buffer[64];
    while (readFd_ >= 0 && ::read(readFd_, buffer, sizeof buffer) > 0)
        any = true;
    return any;
}

TStopSignals::~TStopSignals() {
    if (installed_) {
        for (size_t i = 0; i < std::size(StopSignalNumbers); ++i)
            ::sigaction(StopSignalNumbers[i], &previous[i], nullptr);
    }
    wakeFd = -1;
    if (readFd_ >= 0)
        ::close(readFd_);
    if (writeFd_ >= 0)
        ::close(writeFd_);
}
