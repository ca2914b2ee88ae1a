#include "tests/e2e/FaultProbes.h"

#include "base/MessageBox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace faults {

QList<int> DescriptorsOn(const QString& path) {
    QList<int> found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[512];
        const QByteArray link = QFile::encodeName(fds.filePath(name));
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (QString::fromLocal8Bit(target).startsWith(path))
            found.append(name.toInt());
    }
    return found;
}

namespace {

// The overrides of file permission checks.
constexpr int OverridingCaps[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

bool ThreadCaps(__user_cap_data_struct (&data)[2], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0}; // 0: this thread
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

PermissionChecksOn::PermissionChecksOn() {
    if (::geteuid() != 0)
        return; // an ordinary user is checked anyway
    __user_cap_data_struct data[2] = {};
    if (!ThreadCaps(data, false)) {
        ok_ = false;
        return;
    }
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    for (int cap : OverridingCaps)
        data[cap / 32].effective &= ~(1u << (cap % 32));
    ok_ = dropped_ = ThreadCaps(data, true);
}

PermissionChecksOn::~PermissionChecksOn() {
    if (!dropped_)
        return;
    __user_cap_data_struct data[2] = {};
    if (ThreadCaps(data, false)) {
        data[0].effective = effective_[0];
        data[1].effective = effective_[1];
        ThreadCaps(data, true);
    }
}

PortHolder::PortHolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls: the parent has threads.
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        char c;
        n = ::read(release[0], &c, 1); // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = '0';
    if (pid_ > 0 && ::read(ready[0], &ok, 1) == 1)
        holding_ = ok == '1';
    ::close(ready[0]);
}

PortHolder::~PortHolder() {
    if (release_ >= 0)
        ::close(release_);
    if (pid_ > 0) {
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

ChildCopy::ChildCopy(const QString& mode, const QStringList& args, qint64 limitFileSize) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setChildProcessModifier([limitFileSize] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the matrix
        if (limitFileSize > 0) {
            const rlimit limit{rlim_t(limitFileSize), rlim_t(limitFileSize)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN); // kept across exec
        }
    });
    process_.start(QCoreApplication::applicationFilePath(),
                   QStringList{QStringLiteral("--child-") + mode} + args);
}

ChildCopy::~ChildCopy() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ChildCopy::take() {
    output_ += process_.readAllStandardOutput();
}

bool ChildCopy::waitForLine(const QByteArray& line, int ms) {
    QDeadlineTimer deadline(ms);
    for (;;) {
        take();
        if (output_.split('\n').contains(line))
            return true;
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
            return false;
        process_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
}

void ChildCopy::send(const QByteArray& bytes) {
    process_.write(bytes);
    process_.waitForBytesWritten(5000);
}

void ChildCopy::kill() {
    ::kill(pid_t(process_.processId()), SIGKILL);
    process_.waitForFinished(5000);
    take();
}

bool ChildCopy::finish(int ms) {
    const bool ended = process_.waitForFinished(ms);
    take();
    if (!ended)
        kill();
    return ended;
}

bool ChildCopy::exitedNormally() const {
    return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

QStringList ChildCopy::boxes() const {
    QStringList texts;
    for (const QByteArray& line : output_.split('\n'))
        if (line.startsWith("box\t"))
            texts.append(QString::fromUtf8(line.split('\t').value(1)));
    return texts;
}

void ChildSay(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ChildRecordBoxes() {
    SetMessageBoxHandler([](const QString& text, const QString& caption, TMessageIcon) {
        QString flat = text;
        flat.replace(u'\n', u' ').replace(u'\t', u' ');
        ChildSay("box\t" + flat.toUtf8() + "\t" + caption.toUtf8());
    });
}

} // namespace faults
