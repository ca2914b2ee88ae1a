#include "platform/EventFd.h"

#include "platform/ErrorText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QDeadlineTimer>

TEventFd::TEventFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0)
        SetLastError(errno);
}

TEventFd::~TEventFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TEventFd::Set() {
    const uint64_t one = 1;
    // A full counter (EAGAIN) is still set.
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TEventFd::Clear() {
    uint64_t value;
    while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool TEventFd::IsSet() const {
    return Wait(0) == TWaitOutcome::Event;
}

TWaitOutcome TEventFd::Wait(int Ms) const {
    return WaitForEvents({this}, Ms).outcome;
}

TEventWaitResult WaitForEvents(std::initializer_list<const TEventFd*> Events, int Ms,
                               TPolledDevice* Device) {
    pollfd fds[8];
    int n = 0;
    for (const TEventFd* e : Events) {
        if (n == 7) {
            SetLastError(EINVAL);
            return {};
        }
        fds[n++] = {e->Descriptor(), POLLIN, 0};
    }
    const int device = n;
    if (Device && Device->want != 0)
        fds[n++] = {Device->fd, Device->want, 0};
    const QDeadlineTimer deadline(Ms < 0 ? QDeadlineTimer::Forever
                                         : QDeadlineTimer(Ms, Qt::PreciseTimer));
    for (;;) {
        const int timeout =
            deadline.isForever() ? -1 : int(std::min<qint64>(deadline.remainingTime(), 1 << 30));
        const int r = ::poll(fds, nfds_t(n), timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            SetLastError(errno);
            return {};
        }
        if (r == 0)
            return {TWaitOutcome::TimedOut};
        for (int i = 0; i < device; ++i) {
            if (fds[i].revents == 0)
                continue;
            // A descriptor that is no event any more cannot say it is set.
            if (!(fds[i].revents & POLLIN)) {
                SetLastError(EBADF);
                return {};
            }
            return {TWaitOutcome::Event, i};
        }
        Device->got = fds[device].revents;
        return {TWaitOutcome::DeviceReady};
    }
}
