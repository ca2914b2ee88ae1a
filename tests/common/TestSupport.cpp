#include "tests/common/TestSupport.h"

#include "platform/ChildProcess.h"
#include "platform/UserRegistry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest/QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

MessageRecorder::MessageRecorder() {
    previous_ = SetMessageBoxHandler(
        [this](const QString& text, const QString& caption, TMessageIcon icon) {
            boxes.append({text, caption, icon});
            if (onBox)
                onBox(boxes.last());
        });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHandler(std::move(previous_));
}

namespace {
QString IconName(TMessageIcon icon) {
    switch (icon) {
    case TMessageIcon::None:
        return QStringLiteral("none");
    case TMessageIcon::Warning:
        return QStringLiteral("warning");
    case TMessageIcon::Error:
        return QStringLiteral("error");
    }
    return QStringLiteral("icon %1").arg(int(icon));
}
} // namespace

bool CompareBox(const MessageRecorder& recorder, qsizetype index, qsizetype count,
                const QString& text, const QString& caption, TMessageIcon icon, const char* file,
                int line) {
    const qsizetype shown = recorder.boxes.size();
    if (count >= 0) {
        if (!QTest::qCompare(shown, count, "boxes shown", "boxes expected", file, line))
            return false;
    } else if (shown <= index) {
        QTest::qFail(qPrintable(QStringLiteral("box %1 expected, %2 shown").arg(index).arg(shown)),
                     file, line);
        return false;
    }
    const RecordedBox& box = recorder.boxes[index];
    return QTest::qCompare(box.text, text, "box text", "text", file, line) &&
           QTest::qCompare(box.caption, caption, "box caption", "caption", file, line) &&
           QTest::qCompare(IconName(box.icon), IconName(icon), "box icon", "icon", file, line);
}

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        master = slave = -1;
        return;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    closeSlave();
    closeMaster();
}

void PtyPair::closeSlave() {
    if (slave >= 0)
        ::close(slave);
    slave = -1;
}

void PtyPair::closeMaster() {
    if (master >= 0)
        ::close(master);
    master = -1;
}

bool PtyPair::send(const QByteArray& bytes) {
    qsizetype done = 0;
    QDeadlineTimer deadline(5000);
    while (done < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    return done == bytes.size();
}

QByteArray PtyPair::receive(int count, int timeoutMs) {
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count && !deadline.hasExpired()) {
        char buf[4096];
        const ssize_t n =
            ::read(master, buf, std::min<size_t>(sizeof buf, size_t(count - out.size())));
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, int(std::min<qint64>(20, std::max<qint64>(1, deadline.remainingTime()))));
    }
    return out;
}

QByteArray PtyPair::drain(int quietMs) {
    QByteArray out;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

TempConfigHome::TempConfigHome() {
    hadPrevious_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    previous_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
}

TempConfigHome::~TempConfigHome() {
    if (hadPrevious_)
        qputenv("XDG_CONFIG_HOME", previous_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempConfigHome::vendrikDir() const {
    return dir_.path() + QStringLiteral("/vendrik");
}

bool TempConfigHome::linkComPort(int n, const QString& target) const {
    const QString dir = vendrikDir() + QStringLiteral("/dosdevices");
    QDir().mkpath(dir);
    const QString link = dir + QStringLiteral("/com%1").arg(n);
    QFile::remove(link);
    return QFile::link(target, link);
}

bool RunsAsRoot() {
    return ::geteuid() == 0;
}

int RunUnprivileged(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (RunsAsRoot()) {
            const gid_t gid = UnprivilegedUid;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
                ::setresuid(UnprivilegedUid, UnprivilegedUid, UnprivilegedUid) != 0)
                ::_exit(255);
        }
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

TLineState LineStateOf(int Fd) {
    TLineState state;
    termios tio{};
    int exclusive = 0;
    if (Fd < 0 || ::tcgetattr(Fd, &tio) != 0 || ::ioctl(Fd, TIOCGEXCL, &exclusive) != 0)
        return state;
    state.valid = true;
    state.speed = unsigned(::cfgetospeed(&tio));
    state.exclusive = exclusive != 0;
    return state;
}

TForeignHolder::TForeignHolder(const QString& Path, unsigned Speed, bool Exclusive) {
    fd = ::open(QFile::encodeName(Path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    termios tio{};
    bool ok = ::tcgetattr(fd, &tio) == 0;
    if (ok) {
        ::cfmakeraw(&tio);
        ok = ::cfsetspeed(&tio, speed_t(Speed)) == 0 && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    if (ok && Exclusive)
        ok = ::ioctl(fd, TIOCEXCL) == 0;
    if (!ok) {
        ::close(fd);
        fd = -1;
    }
}

TForeignHolder::~TForeignHolder() {
    if (fd < 0)
        return;
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

int UnprivilegedOpenError(const QString& Path) {
    const QByteArray path = QFile::encodeName(Path);
    if (::chmod(path.constData(), 0666) != 0)
        return -1;
    return RunUnprivileged([&path] {
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    });
}

int RunChildProcess(const QString& Program, const QStringList& Args,
                    const QList<QByteArray>& ExtraEnv, QByteArray& Output, int TimeoutMs) {
    Output.clear();
    QList<QByteArray> args;
    std::vector<char*> argv = ExecArguments(Program, Args, args);
    QList<QByteArray> env = ExtraEnv;
    for (char** e = environ; *e; ++e)
        env.append(*e);
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return -1;
    }
    QDeadlineTimer deadline(TimeoutMs);
    bool timedOut = false;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int r = ::poll(&p, 1, int(deadline.remainingTime()));
        if (r == 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (r < 0 && errno == EINTR)
            continue;
        char buffer[4096];
        const ssize_t n = r > 0 ? ::read(out[0], buffer, sizeof buffer) : -1;
        if (n <= 0)
            break;
        Output.append(buffer, n);
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadStoreFile() {
    return ReadWholeFile(UserRegistryPath());
}

bool WriteStoreFile(const QByteArray& bytes) {
    return WriteWholeFile(UserRegistryPath(), bytes);
}

QStringList FolderEntries(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

void ShowNoticeAsBox(const TNotice& Notice) {
    const TMessageIcon icon = Notice.icon == TNoticeIcon::Warning ? TMessageIcon::Warning
                              : Notice.icon == TNoticeIcon::Error ? TMessageIcon::Error
                                                                  : TMessageIcon::None;
    ShowMessageBox(Notice.text, Notice.caption, icon);
}

QByteArray DeepKeysStore(int lines, int depth) {
    QByteArray text = "REGEDIT4\n\n";
    for (int i = 0; i < lines; ++i) {
        text += "[HKEY_CURRENT_USER\\k" + QByteArray::number(i);
        for (int level = 1; level < depth; ++level)
            text += "\\a";
        text += "]\n\n";
    }
    return text;
}

QByteArray ManyKeysStore(qsizetype bytes) {
    QByteArray text = "REGEDIT4\n\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "[HKEY_CURRENT_USER\\Software\\Vendrik\\k" + QByteArray::number(i) + "]\n\n";
    return text;
}

QByteArray ManyValuesStore(qsizetype bytes) {
    QByteArray text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "\"v" + QByteArray::number(i) + "\"=\"1\"\n";
    return text + "\n";
}

namespace {

// A field of /proc/self/status in bytes, -1 when missing.
qint64 StatusBytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

} // namespace

qint64 PeakGrowthInChild(const std::function<qint64()>& body, qint64* result) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        qint64 out[2] = {-1, -1};
        // Free memory the parent left resident would hide the child's own growth.
        ::malloc_trim(0);
        // "5" resets VmHWM to the present size (Linux 4.0 on).
        const int clear = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
        const bool reset = clear >= 0 && ::write(clear, "5", 1) == 1;
        if (clear >= 0)
            ::close(clear);
        const qint64 before = StatusBytes("VmRSS");
        out[1] = body();
        const qint64 peak = StatusBytes("VmHWM");
        if (reset && before >= 0 && peak >= 0)
            out[0] = peak - before;
        const bool sent = ::write(fds[1], out, sizeof out) == sizeof out;
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    qint64 in[2] = {-1, -1};
    const bool got = pid > 0 && ::read(fds[0], in, sizeof in) == sizeof in;
    ::close(fds[0]);
    int status = 0;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    *result = in[1];
    return in[0];
}

QStringList ManPageExitCodes(const QString& manPage) {
    const QStringList lines = QString::fromUtf8(ReadWholeFile(manPage)).split(u'\n');
    QStringList codes;
    bool inSection = false;
    bool codeNext = false;
    for (QString line : lines) {
        if (line.startsWith(QStringLiteral(".SH"))) {
            inSection = line == QStringLiteral(".SH СТАТУС ВЫХОДА");
            continue;
        }
        if (!inSection)
            continue;
        if (line == QStringLiteral(".TP")) {
            codeNext = true;
            continue;
        }
        line.replace(QStringLiteral("\\fB"), QString()).replace(QStringLiteral("\\fI"), QString());
        line.replace(QStringLiteral("\\fR"), QString())
            .replace(QStringLiteral("\\-"), QStringLiteral("-"));
        line.replace(QStringLiteral("\\(en"), QStringLiteral("–"));
        line.replace(QStringLiteral("\\(em"), QStringLiteral("—"));
        if (codeNext)
            codes.append(line.trimmed());
        else if (!codes.isEmpty())
            codes.last() += u' ' + line.trimmed();
        codeNext = false;
    }
    return codes;
}

QStringList HelpExitCodes(const QString& helpText) {
    const qsizetype start = helpText.indexOf(QStringLiteral("Коды завершения:\n"));
    if (start < 0)
        return {};
    QStringList codes;
    const QStringList lines = helpText.mid(start).split(u'\n', Qt::SkipEmptyParts).mid(1);
    for (const QString& line : lines) {
        const QString text = line.trimmed();
        if (!text.isEmpty() && text[0].isDigit() && line.startsWith(QStringLiteral("  ")) &&
            !line.startsWith(QStringLiteral("   ")))
            codes.append(text.section(u' ', 0, 0) + u' ' + text.section(u' ', 1).trimmed());
        else if (!codes.isEmpty())
            codes.last() += u' ' + text;
    }
    return codes;
}

QStringList ExitCodeLines(const TExitCodeMeanings& codes) {
    QStringList lines;
    for (const TExitCodeMeaning& c : codes)
        lines.append(QString::number(c.code) + u' ' + c.meaning);
    return lines;
}
