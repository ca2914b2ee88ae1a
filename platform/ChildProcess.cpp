#include "platform/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Everything readable now; false at the pipe's end or on failure (the pipe is closed).
bool Drain(int& fd, QByteArray& into) {
    if (fd < 0)
        return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        CloseFd(fd);
        return false;
    }
}

} // namespace

std::vector<char*> ExecArguments(const QString& Program, const QStringList& Args,
                                 QList<QByteArray>& Storage) {
    Storage = {QFile::encodeName(Program)};
    for (const QString& a : Args)
        Storage.append(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : Storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

bool TChildProcess::Start(const QString& Program, const QStringList& Args,
                          const TChildOptions& Options) {
    if (pid_ > 0)
        return false;
    // Everything the child needs is made before the fork: after it, in a process with
    // threads, only async-signal-safe calls are allowed until the exec.
    QList<QByteArray> storage;
    std::vector<char*> argv = ExecArguments(Program, Args, storage);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t group = Options.processGroup;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A parent that died before the death signal was asked for has already handed
        // the child to another process: end here rather than run unowned.
        if (Options.endWithParent &&
            (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent))
            ::_exit(127);
        if (group >= 0)
            ::setpgid(0, group);
        if (devNull >= 0)
            ::dup2(devNull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    if (devNull >= 0)
        ::close(devNull);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    pid_ = pid;
    if (group >= 0) {
        // Both sides set the group, so that it holds before either goes on (a signal to
        // the group sent at once must not miss this child). EACCES: it has already
        // exec'd, having set the group itself.
        const pid_t joined = group == 0 ? pid : group;
        if (::setpgid(pid, joined) == 0 || errno == EACCES)
            group_ = joined;
    }
    out_ = out[0];
    err_ = err[0];
    ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
    ::fcntl(err_, F_SETFL, ::fcntl(err_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TChildProcess::ReadAvailable() {
    const bool outOpen = Drain(out_, Output);
    const bool errOpen = Drain(err_, Error);
    return outOpen || errOpen;
}

void TChildProcess::Signal(int Number) {
    if (Running())
        ::kill(pid_, Number);
}

void TChildProcess::Interrupt() {
    Signal(SIGINT);
}

void TChildProcess::Terminate() {
    Signal(SIGTERM);
}

void TChildProcess::Continue() {
    Signal(SIGCONT);
}

void TChildProcess::Kill() {
    Signal(SIGKILL);
}

bool TChildProcess::Reap(bool Block) {
    if (pid_ <= 0)
        return false;
    if (exited_)
        return true;
    int status = 0;
    pid_t r;
    do
        r = ::waitpid(pid_, &status, Block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_)
        return false;
    exited_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    termSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return true;
}

bool TChildProcess::WaitForExit(int Ms) {
    if (pid_ <= 0)
        return false;
    const QDeadlineTimer deadline =
        Ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(Ms, Qt::PreciseTimer);
    // The pipes end when the child and everything it started have let go of them.
    while (ReadAvailable()) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return Reap(false);
        ::poll(fds, 2, left < 0 ? 100 : int(std::min<qint64>(left, 100)));
        // A child that ended while something it started still holds the pipes.
        if (Reap(false)) {
            ReadAvailable();
            return true;
        }
    }
    if (deadline.isForever())
        return Reap(true);
    while (!Reap(false)) {
        if (deadline.hasExpired())
            return false;
        ::poll(nullptr, 0, 5);
    }
    return true;
}

TChildProcess::~TChildProcess() {
    if (Running()) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
    CloseFd(out_);
    CloseFd(err_);
}
