#include "platform/EventFd.h"

#include "platform/ErrorText.h"

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
    return Wait(0) == 0;
}

int TEventFd::Wait(int Ms) const {
    QDeadlineTimer deadline(Ms < 0 ? QDeadlineTimer::Forever
                                   : QDeadlineTimer(Ms, Qt::PreciseTimer));
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const qint64 left = deadline.isForever() ? -1 : deadline.remainingTime();
        const int r = ::poll(&p, 1, left < 0 ? -1 : int(std::min<qint64>(left, 1 << 30)));
        if (r > 0)
            return (p.revents & POLLIN) ? 0 : (SetLastError(EBADF), -1);
        if (r == 0)
            return 1;
        if (errno != EINTR) {
            SetLastError(errno);
            return -1;
        }
    }
}
