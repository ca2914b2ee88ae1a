#include "tools/simdevice/SimDevice.h"

#include "platform/SerialNames.h"
#include "platform/ThreadPriority.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// A frame that stops arriving half-way is dropped after this much silence, so one
// lost byte cannot shift every later frame.
constexpr int PartialFrameMs = 200;
constexpr int DefaultLateMs = 400;
constexpr int DefaultNoiseBytes = 3;
constexpr int DefaultTrailMs = 400;

QString Hex(const QByteArray& bytes, int max = 8) {
    QString s = QString::fromLatin1(bytes.left(max).toHex(' '));
    if (bytes.size() > max)
        s += QStringLiteral(" ...");
    return s;
}

} // namespace

quint8 ByteSum(const QByteArray& bytes) {
    quint8 sum = 0;
    for (char c : bytes)
        sum = quint8(sum + quint8(c));
    return sum;
}

struct SimDevice::Pending {
    qint64 due;
    QByteArray bytes;
};

SimDevice::SimDevice(SimConfig config)
    : config_(std::move(config)), pending_(std::make_unique<std::vector<Pending>>()),
      memory_(MemoryBytes, char(0xFF)) {}

SimDevice::~SimDevice() {
    Stop();
}

qint64 SimDevice::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SimDevice::Start(QString* error) {
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                  QString::fromLocal8Bit(std::strerror(errno)));
        Stop();
        return false;
    };
    if (thread_.joinable())
        return true;
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    char name[256] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return fail("openpty");
    }
    slavePath_ = QString::fromLocal8Bit(name);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return fail("eventfd");
    inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ < 0)
        return fail("inotify_init1");
    // Our own slave descriptor was opened before the watch, so only other parties count.
    if (inotify_add_watch(inotifyFd_, name, IN_OPEN | IN_CLOSE) < 0)
        return fail("inotify_add_watch");
    startMs_ = NowMs();
    if (config_.switchOn == SwitchOn::AfterDelay)
        switchOnAt_ = startMs_ + config_.switchOnDelayMs;
    stopRequested_ = false;
    LogLine(QStringLiteral("device ready on %1").arg(slavePath_));
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimDevice::Stop() {
    if (thread_.joinable()) {
        stopRequested_ = true;
        Wake();
        thread_.join();
    }
    for (int* fd : {&master_, &slave_, &wakeFd_, &inotifyFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void SimDevice::Wake() {
    if (wakeFd_ >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void SimDevice::SwitchOn() {
    switchOnRequested_ = true;
    Wake();
}

void SimDevice::SendUnasked(const QByteArray& bytes) {
    {
        std::lock_guard lock(mutex_);
        unasked_ += bytes;
    }
    Wake();
}

void SimDevice::HangUp() {
    hangUpRequested_ = true;
    Wake();
}

void SimDevice::LogLine(const QString& text) {
    if (!config_.log)
        return;
    const double rel = double(NowMs() - startMs_) / 1000.0;
    const QString line =
        QStringLiteral("%1 +%2s %3")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")))
            .arg(rel, 0, 'f', 3)
            .arg(text);
    config_.log(line.toUtf8());
}

void SimDevice::Run() {
    // A real device answers within its own time whatever the computer is doing; on a
    // busy machine the simulator's thread gets the highest priority the process may give
    // (none more for an unprivileged one), so a reply is not late for the host's sake.
    SetCurrentThreadName("sim-device");
    SetThreadRelativePriority(CurrentThreadId(), CurrentThreadNice(), 15);
    while (!stopRequested_) {
        const qint64 now = NowMs();
        if (hangUpRequested_.exchange(false))
            DoHangUp();
        if (switchOnRequested_.exchange(false) || (switchOnAt_ >= 0 && now >= switchOnAt_)) {
            switchOnAt_ = -1;
            if (master_ >= 0) {
                on_ = true;
                input_.clear();
                {
                    std::lock_guard lock(mutex_);
                    ++stats_.announcements;
                }
                LogLine(
                    QStringLiteral("switched on, announcing %1").arg(Hex(config_.announcement)));
                Send(config_.announcement, 0);
            }
        }
        QByteArray unasked;
        {
            std::lock_guard lock(mutex_);
            unasked.swap(unasked_);
        }
        if (!unasked.isEmpty() && master_ >= 0) {
            LogLine(QStringLiteral("-> unasked %1").arg(Hex(unasked)));
            out_ += unasked;
        }
        // Due replies.
        for (auto it = pending_->begin(); it != pending_->end();) {
            if (it->due <= now) {
                out_ += it->bytes;
                it = pending_->erase(it);
            } else {
                ++it;
            }
        }
        FlushOut();
        if (!input_.isEmpty() && now - lastInputAt_ >= PartialFrameMs) {
            LogLine(QStringLiteral("dropped an incomplete frame of %1 bytes: %2")
                        .arg(input_.size())
                        .arg(Hex(input_)));
            std::lock_guard lock(mutex_);
            stats_.strayBytes += int(input_.size());
            input_.clear();
        }

        qint64 wakeAt = -1;
        auto earlier = [&](qint64 t) {
            if (t >= 0 && (wakeAt < 0 || t < wakeAt))
                wakeAt = t;
        };
        earlier(switchOnAt_);
        for (const Pending& p : *pending_)
            earlier(p.due);
        if (!input_.isEmpty())
            earlier(lastInputAt_ + PartialFrameMs);
        const int timeout = wakeAt < 0 ? -1 : int(std::max<qint64>(0, wakeAt - NowMs()) + 1);

        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}, {master_, 0, 0}};
        int nfds = 2;
        if (master_ >= 0) {
            fds[2].events = short(POLLIN | (out_.isEmpty() ? 0 : POLLOUT));
            nfds = 3;
        }
        if (::poll(fds, nfds_t(nfds), timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            quint64 v;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &v, sizeof v);
        }
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char buf[4096];
            const ssize_t n = ::read(inotifyFd_, buf, sizeof buf);
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
                if (ev->mask & IN_OPEN)
                    OnOpened();
                if (ev->mask & IN_CLOSE)
                    OnClosed();
                off += ssize_t(sizeof(inotify_event) + ev->len);
            }
        }
        if (nfds == 3 && (fds[2].revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                TakeInput(QByteArray(buf, int(n)));
        }
    }
}

void SimDevice::OnOpened() {
    ++openCount_;
    {
        std::lock_guard lock(mutex_);
        ++stats_.opens;
    }
    LogLine(QStringLiteral("port opened"));
    if (config_.switchOn == SwitchOn::OnOpen && master_ >= 0)
        switchOnAt_ = NowMs() + config_.switchOnDelayMs;
}

void SimDevice::OnClosed() {
    openCount_ = std::max(0, openCount_ - 1);
    LogLine(QStringLiteral("port closed"));
    if (config_.switchOn == SwitchOn::OnOpen && openCount_ == 0) {
        if (on_)
            LogLine(QStringLiteral("switched off"));
        on_ = false;
        switchOnAt_ = -1;
        pending_->clear();
        input_.clear();
    }
}

void SimDevice::TakeInput(const QByteArray& bytes) {
    if (!on_) {
        LogLine(QStringLiteral("off: ignored %1 bytes: %2").arg(bytes.size()).arg(Hex(bytes)));
        std::lock_guard lock(mutex_);
        stats_.strayBytes += int(bytes.size());
        return;
    }
    input_ += bytes;
    lastInputAt_ = NowMs();
    ParseFrames();
}

void SimDevice::ParseFrames() {
    while (!input_.isEmpty() && master_ >= 0) {
        const char op = input_[0];
        int need = 0;
        if (op == WriteOp) {
            need = FrameBytes;
        } else if (op == ReadOp) {
            need = RequestBytes;
        } else {
            // Skip to the next byte that can start a frame.
            qsizetype skip = 1;
            while (skip < input_.size() && input_[skip] != WriteOp && input_[skip] != ReadOp)
                ++skip;
            LogLine(QStringLiteral("stray bytes %1").arg(Hex(input_.left(skip))));
            {
                std::lock_guard lock(mutex_);
                stats_.strayBytes += int(skip);
            }
            input_.remove(0, skip);
            continue;
        }
        if (input_.size() < need)
            return;
        const QByteArray frame = input_.left(need);
        input_.remove(0, need);
        const int sector = quint8(frame[1]) | (quint8(frame[2]) << 8);
        if (ByteSum(frame) != 0) {
            LogLine(QStringLiteral("<- %1 sector %2: checksum error (sum %3), no answer")
                        .arg(QLatin1Char(op))
                        .arg(sector)
                        .arg(ByteSum(frame)));
            std::lock_guard lock(mutex_);
            ++stats_.checksumErrors;
            continue;
        }
        if (op == WriteOp)
            AnswerWrite(frame, sector);
        else
            AnswerRead(frame, sector);
    }
}

void SimDevice::AnswerWrite(const QByteArray& frame, int sector) {
    std::optional<Fault> fault = config_.faults.take(WriteOp, sector);
    if (fault && fault->kind == FaultKind::HangUp) {
        LogLine(QStringLiteral("<- W sector %1: hanging up").arg(sector));
        DoHangUp();
        return;
    }
    if (sector >= MemorySectors) {
        LogLine(QStringLiteral("<- W sector %1: beyond memory, no answer").arg(sector));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        memory_.replace(sector * SectorBytes, SectorBytes, frame.mid(3, SectorBytes));
        if (fault && fault->kind == FaultKind::BadCell) {
            const int at = sector * SectorBytes + fault->param % SectorBytes;
            memory_[at] = char(~memory_[at]);
        }
        writeFrames_.append(frame);
        ++stats_.writeFrames;
        if (fault)
            ++stats_.faults;
    }
    QByteArray reply = "!";
    int delay = 0;
    int trailDelay = 0;
    if (fault) {
        switch (fault->kind) {
        case FaultKind::NoReply:
            reply.clear();
            break;
        case FaultKind::Late:
            delay = fault->param > 0 ? fault->param : DefaultLateMs;
            break;
        case FaultKind::WrongAck:
            reply = "E";
            break;
        case FaultKind::Noise:
            reply.prepend(QByteArray(fault->param > 0 ? fault->param : DefaultNoiseBytes, '\x55'));
            break;
        case FaultKind::Long:
            reply.append("OK\r\n");
            break;
        case FaultKind::Trail:
            trailDelay = fault->param > 0 ? fault->param : DefaultTrailMs;
            break;
        default: // read-reply faults leave an acknowledgement alone
            break;
        }
    }
    LogLine(
        QStringLiteral("<- W sector %1 ok%2 -> %3%4%5")
            .arg(sector)
            .arg(fault ? QStringLiteral(" [fault %1]").arg(FaultKindName(fault->kind)) : QString())
            .arg(reply.isEmpty() ? QStringLiteral("nothing") : Hex(reply))
            .arg(delay ? QStringLiteral(" after %1 ms").arg(delay) : QString())
            .arg(trailDelay ? QStringLiteral(", then 0d after %1 ms").arg(trailDelay) : QString()));
    if (!reply.isEmpty())
        Send(reply, delay);
    if (trailDelay)
        Send("\r", trailDelay);
}

void SimDevice::AnswerRead(const QByteArray& request, int sector) {
    std::optional<Fault> fault = config_.faults.take(ReadOp, sector);
    if (fault && fault->kind == FaultKind::HangUp) {
        LogLine(QStringLiteral("<- R sector %1: hanging up").arg(sector));
        DoHangUp();
        return;
    }
    if (sector >= MemorySectors) {
        LogLine(QStringLiteral("<- R sector %1: beyond memory, no answer").arg(sector));
        return;
    }
    QByteArray reply;
    reply.reserve(FrameBytes + 1);
    reply.append('D').append(char(sector & 0xFF)).append(char(sector >> 8));
    {
        std::lock_guard lock(mutex_);
        reply.append(memory_.mid(sector * SectorBytes, SectorBytes));
        readRequests_.append(request);
        ++stats_.readRequests;
        if (fault)
            ++stats_.faults;
    }
    reply.append(char(quint8(0x100 - ByteSum(reply))));
    int delay = 0;
    if (fault) {
        switch (fault->kind) {
        case FaultKind::NoReply:
            reply.clear();
            break;
        case FaultKind::Late:
            delay = fault->param > 0 ? fault->param : DefaultLateMs;
            break;
        case FaultKind::BadChecksum:
            reply[FrameBytes - 1] = char(quint8(reply[FrameBytes - 1]) + 1);
            break;
        case FaultKind::Short:
            reply.chop(1);
            break;
        case FaultKind::Long:
            reply.append('\0');
            break;
        case FaultKind::Noise:
            reply.prepend(QByteArray(fault->param > 0 ? fault->param : DefaultNoiseBytes, '\x55'));
            break;
        default: // a wrong acknowledgement means nothing to a read reply
            break;
        }
    }
    LogLine(
        QStringLiteral("<- R sector %1%2 -> %3 bytes%4")
            .arg(sector)
            .arg(fault ? QStringLiteral(" [fault %1]").arg(FaultKindName(fault->kind)) : QString())
            .arg(reply.size())
            .arg(delay ? QStringLiteral(" after %1 ms").arg(delay) : QString()));
    if (!reply.isEmpty())
        Send(reply, delay);
}

void SimDevice::Send(QByteArray bytes, int delayMs) {
    if (delayMs <= 0)
        out_ += bytes;
    else
        pending_->push_back({NowMs() + delayMs, std::move(bytes)});
    FlushOut();
}

void SimDevice::FlushOut() {
    while (!out_.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, out_.constData(), size_t(out_.size()));
        if (n > 0) {
            out_.remove(0, n);
        } else {
            if (n < 0 && errno == EINTR)
                continue;
            return; // EAGAIN: poll waits for room
        }
    }
}

void SimDevice::DoHangUp() {
    if (master_ < 0)
        return;
    ::close(master_);
    master_ = -1;
    on_ = false;
    out_.clear();
    pending_->clear();
    input_.clear();
    LogLine(QStringLiteral("line dropped (hang-up)"));
    std::lock_guard lock(mutex_);
    stats_.hungUp = true;
}

QByteArray SimDevice::Memory() const {
    std::lock_guard lock(mutex_);
    return memory_;
}

void SimDevice::SetMemory(const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    memory_ = bytes.left(MemoryBytes);
    memory_.append(QByteArray(MemoryBytes - memory_.size(), char(0xFF)));
}

bool SimDevice::LoadMemory(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    if (f.size() > MemoryBytes) {
        if (error)
            *error = QStringLiteral("%1: larger than %2 bytes").arg(path).arg(MemoryBytes);
        return false;
    }
    SetMemory(f.readAll());
    return true;
}

bool SimDevice::DumpMemory(const QString& path, QString* error) const {
    QFile f(path);
    const QByteArray bytes = Memory();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() ||
        !f.flush()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

SimStats SimDevice::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

QList<QByteArray> SimDevice::WriteFrames() const {
    std::lock_guard lock(mutex_);
    return writeFrames_;
}

QList<QByteArray> SimDevice::ReadRequests() const {
    std::lock_guard lock(mutex_);
    return readRequests_;
}

bool LinkComPort(int n, const QString& target, QString* error) {
    const QString link = ComPortLink(n);
    QDir().mkpath(QFileInfo(link).path());
    if (QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        QFile::remove(link);
    if (!QFile::link(target, link)) {
        if (error)
            *error = QStringLiteral("can't create %1").arg(link);
        return false;
    }
    return true;
}

} // namespace sim
