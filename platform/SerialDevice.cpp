#include "platform/SerialDevice.h"

#include "platform/ErrorText.h"
#include "platform/SerialTermios.h"

#include <QFile>

#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
bool Fail(int code) {
    SetLastError(code);
    return false;
}

// Modem lines are missing on a pseudo-terminal: not an error there.
bool SetModemLine(int fd, int line, bool on) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}
} // namespace

TSerialDevice::TSerialDevice() = default;

TSerialDevice::~TSerialDevice() {
    Close();
}

bool TSerialDevice::Open(const QString& Path) {
    Close();
    const QByteArray path = QFile::encodeName(Path);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    int error = 0;
    int wasExclusive = 0;
    termios2 found{};
    // Nothing about the terminal changes before the lock is ours: a port another copy
    // holds is refused as it is.
    if (!::isatty(fd))
        error = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    else if (::ioctl(fd, TCGETS2, &found) != 0)
        error = errno;
    // Root opens a terminal another program made exclusive: that flag is theirs.
    else if (::ioctl(fd, TIOCGEXCL, &wasExclusive) != 0)
        error = errno;
    else if (!wasExclusive && ::ioctl(fd, TIOCEXCL) != 0)
        error = errno;
    if (error == 0 && ::ioctl(fd, TCFLSH, TCIOFLUSH) != 0) {
        error = errno;
        if (!wasExclusive)
            ::ioctl(fd, TIOCNXCL);
    }
    if (error != 0) {
        ::close(fd);
        return Fail(error);
    }
    fd_ = fd;
    retired_ = false;
    setExclusive_ = !wasExclusive;
    found_ = std::make_unique<termios2>(found);
    return true;
}

void TSerialDevice::RestoreAsFound() {
    if (fd_ < 0 || retired_)
        return;
    // Immediately, not after draining: a line that hung up or stopped by flow control
    // would keep the caller waiting for ever.
    if (found_)
        ::ioctl(fd_, TCSETS2, found_.get());
    found_.reset();
    if (setExclusive_)
        ::ioctl(fd_, TIOCNXCL);
    setExclusive_ = false;
}

void TSerialDevice::Close() {
    if (fd_ >= 0) {
        RestoreAsFound();
        ::close(fd_);
    }
    fd_ = -1;
    retired_ = false;
}

void TSerialDevice::ReleaseExclusive() {
    if (fd_ < 0 || retired_)
        return;
    RestoreAsFound();
    ::flock(fd_, LOCK_UN);
}

void TSerialDevice::Retire() {
    if (fd_ < 0 || retired_)
        return;
    ReleaseExclusive();
    const int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (placeholder < 0)
        return;
    // Atomic: the number never refers to nothing, and the device closes here unless a
    // call in progress on another thread still holds it (then when that call returns).
    while (::dup3(placeholder, fd_, O_CLOEXEC) < 0 && errno == EINTR) {
    }
    ::close(placeholder);
    retired_ = true;
}

bool TSerialDevice::SetCommState(const TDCB& Dcb) {
    termios2 tio{};
    int error = 0;
    if (!DcbToTermios(Dcb, tio, error))
        return Fail(error);
    if (::ioctl(fd_, TCSETS2, &tio) != 0)
        return Fail(errno);
    if (!SetModemLine(fd_, TIOCM_DTR, DcbWantsDtr(Dcb)) ||
        !SetModemLine(fd_, TIOCM_RTS, DcbWantsRts(Dcb)))
        return Fail(errno);
    return true;
}

int TSerialDevice::Read(void* Buffer, int Count) {
    if (Count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, Buffer, size_t(Count));
        if (n > 0)
            return int(n);
        if (n == 0) {
            // Raw mode with VMIN 0 also reads 0 when nothing waits; only a hung-up
            // line is a failure.
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                SetLastError(EIO);
                return -1;
            }
            return 0;
        }
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR) {
            SetLastError(errno);
            return -1;
        }
    }
}

int TSerialDevice::Write(const void* Buffer, int Count) {
    if (Count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::write(fd_, Buffer, size_t(Count));
        if (n >= 0)
            return int(n);
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR) {
            SetLastError(errno);
            return -1;
        }
    }
}

bool TSerialDevice::InQueue(int& Count) {
    Count = 0;
    if (::ioctl(fd_, FIONREAD, &Count) != 0)
        return Fail(errno);
    return true;
}

bool TSerialDevice::OutQueue(int& Count) {
    Count = 0;
    if (::ioctl(fd_, TIOCOUTQ, &Count) == 0)
        return true;
    Count = 0;
    return errno == ENOTTY || errno == EINVAL || Fail(errno);
}

bool TSerialDevice::LineErrors(Counters& Baseline, uint32_t& Errors) {
    Errors = 0;
    serial_icounter_struct ic{};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0)
        return errno == ENOTTY || errno == EINVAL || Fail(errno);
    const Counters now{true, ic.frame, ic.overrun, ic.parity, ic.brk};
    Errors = LineErrorBits(Baseline, now);
    Baseline = now;
    return true;
}

uint32_t TSerialDevice::LineErrorBits(const Counters& Before, const Counters& Now) {
    if (!Before.valid)
        return 0;
    uint32_t bits = 0;
    if (Now.frame != Before.frame)
        bits |= CE_FRAME;
    if (Now.overrun != Before.overrun)
        bits |= CE_OVERRUN;
    if (Now.parity != Before.parity)
        bits |= CE_RXPARITY;
    if (Now.brk != Before.brk)
        bits |= CE_BREAK;
    return bits;
}

bool TSerialDevice::Flush(bool Input, bool Output) {
    if (!Input && !Output)
        return true;
    const int what = Input && Output ? TCIOFLUSH : Input ? TCIFLUSH : TCOFLUSH;
    if (::ioctl(fd_, TCFLSH, what) != 0)
        return Fail(errno);
    return true;
}

TEventWaitResult TSerialDevice::Wait(int Want, std::initializer_list<const TEventFd*> Events,
                                     int Ms) {
    TPolledDevice device{
        fd_, short(((Want & Readable) ? POLLIN : 0) | ((Want & Writable) ? POLLOUT : 0))};
    TEventWaitResult result = WaitForEvents(Events, Ms, &device);
    if (result.outcome != TWaitOutcome::DeviceReady)
        return result;
    if (device.got & POLLIN)
        result.ready |= Readable;
    if (device.got & POLLOUT)
        result.ready |= Writable;
    if (device.got & (POLLHUP | POLLERR | POLLNVAL))
        result.ready |= HungUp;
    return result;
}
