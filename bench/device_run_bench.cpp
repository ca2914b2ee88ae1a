// Measures whole device runs of the real main window against the simulated device,
// which runs as a child process so that its processor time is not counted.
//
// For a write of N sectors and a read of 128 it prints the wall time of the transfer
// (from the device's announcement to the port's closing) divided by the floor the fixed waits set
// (N x 300 ms, 128 x 100 ms), and the program's processor time in that span as a share
// of the wall time. Goals: at most 1.01 and under 2 %. It also counts the frames the
// device received: more than one per sector means the program had to send one again.
//
//   device_run_bench [--short] [--saturate] [--sim PATH]
// --short writes 30 sectors instead of 506 (for CI: shows the bench works).
// --saturate keeps every processor busy (one busy-looping process per processor, at
// normal priority, for the whole bench), writes 100 sectors, and fails on any frame
// sent again.

#include "base/MessageBox.h"
#include "comm/VaComm.h"
#include "programmer/ProgramFiles.h"
#include "programmer/ProgramImage.h"
#include "ui/Startup.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Measure {
    double wall = 0; // seconds
    double cpu = 0;
    QString status;
    bool ok = false;
    int frames = 0; // frames the device received during the run
};

// One busy-looping process per processor, started before anything else (so no thread
// of this program is copied into them) and killed with the bench.
class BusyLoops {
public:
    void Start() {
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        for (long i = 0; i < cores; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                setpriority(PRIO_PROCESS, 0, 0);
                std::atomic<unsigned long> spin{0};
                for (;;)
                    spin.fetch_add(1, std::memory_order_relaxed);
            }
            if (pid > 0)
                pids_.append(pid);
        }
    }
    ~BusyLoops() {
        for (const pid_t pid : pids_)
            kill(pid, SIGKILL);
        for (const pid_t pid : pids_)
            waitpid(pid, nullptr, 0);
    }
    int Count() const { return int(pids_.size()); }

private:
    QList<pid_t> pids_;
};

// The simulator as a child process, started with fork and exec rather than QProcess:
// QProcess starts its children with a clone that shares this process's memory until
// the exec, and ThreadSanitizer, which does not see that clone, then loses track of
// this process's locks and reports races on data that is only touched under one
// (tests/tsan/qprocess_child.cpp shows it on its own).
class Simulator {
public:
    bool Start(const QString& path, const QList<QByteArray>& args) {
        const QByteArray program = QFile::encodeName(path);
        std::vector<char*> argv{const_cast<char*>(program.constData())};
        for (const QByteArray& a : args)
            argv.push_back(const_cast<char*>(a.constData()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // The simulator must not outlive a bench that crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execv(program.constData(), argv.data());
            _exit(127);
        }
        return pid_ > 0;
    }
    ~Simulator() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

// Frames ("W" or "R") the device has logged so far.
int FramesLogged(const QString& log, char letter) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray marker = QByteArray("<- ") + letter + " sector ";
    return int(f.readAll().count(marker));
}

// Runs one device run. The transfer is timed from the announcement's notification to
// the port's closing at its end (the close notification comes before the port's fixed
// closing pause, which is not the transfer's).
Measure RunOnce(void (TformMain::*click)(), int timeoutMs) {
    Measure m;
    QElapsedTimer wall;
    double cpu0 = 0;
    bool started = false;
    bool finished = false;
    TVaComm* port = formMain->VaComm1;
    const TVaCommRxCharEvent handler = port->OnRxChar;
    port->OnRxChar = [&](QObject* sender, int count) {
        if (!started) {
            started = true;
            wall.start();
            cpu0 = CpuSeconds();
        }
        handler(sender, count);
    };
    port->OnClose = [&](QObject*) {
        if (started && !finished) {
            finished = true;
            m.wall = double(wall.nsecsElapsed()) / 1e9;
            m.cpu = CpuSeconds() - cpu0;
        }
    };
    // The operator closes the window once the run has finished.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (finished && formSearsh->isVisible() && formSearsh->BtnCancel->isEnabled())
            formSearsh->BtnCancel->click();
    });
    closer.start(50);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [] { formSearsh->BtnCancel->click(); });
    timeout.start(timeoutMs);
    (formMain->*click)();
    port->OnRxChar = handler;
    port->OnClose = nullptr;
    m.status = formSearsh->stInfo->text();
    m.ok = finished;
    return m;
}

} // namespace

int main(int argc, char** argv) {
    BusyLoops busy;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--saturate")
            busy.Start();
    TApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool shortRun = args.contains(QStringLiteral("--short"));
    const bool saturate = args.contains(QStringLiteral("--saturate"));
    QString simPath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/meldor2-sim");
    if (const qsizetype i = args.indexOf(QStringLiteral("--sim")); i >= 0 && i + 1 < args.size())
        simPath = args[i + 1];
    const int writeSectors = shortRun ? 30 : saturate ? 100 : 506;

    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    SetMessageBoxHandler([](const QString& text, const QString& caption, TMessageIcon) {
        std::fprintf(stderr, "message box: %s (%s)\n", qPrintable(text), qPrintable(caption));
    });

    const QString simLog = home.filePath(QStringLiteral("device.log"));
    Simulator sim;
    if (!sim.Start(simPath, {"--com", "1", "--delay", "100", "--log", QFile::encodeName(simLog)})) {
        std::fprintf(stderr, "can't start %s\n", qPrintable(simPath));
        return 2;
    }
    const QString link = home.path() + QStringLiteral("/vendrik/dosdevices/com1");
    QElapsedTimer waitLink;
    waitLink.start();
    while (!QFileInfo(link).isSymLink() && waitLink.elapsed() < 5000)
        QThread::msleep(10);
    if (!QFileInfo(link).isSymLink()) {
        std::fprintf(stderr, "the simulator made no COM1 link\n");
        return 2;
    }

    CreateWindows();
    formMain->show();

    const QString program = home.filePath(QStringLiteral("bench.bin"));
    {
        QFile f(program);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes(writeSectors * SectorSize, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + i / 256);
        f.write(bytes);
    }
    LoadProgramFile(*formMain, program);

    Measure write = RunOnce(&TformMain::BtnWriteClick, writeSectors * 300 + 60000);
    write.frames = FramesLogged(simLog, 'W');
    Measure read = RunOnce(&TformMain::BtnReadClick, 128 * 100 + 60000);
    read.frames = FramesLogged(simLog, 'R');

    int rc = 0;
    if (saturate)
        std::printf("saturated: %d busy-looping processes\n", busy.Count());
    auto report = [&](const char* what, const Measure& m, int sectors, int waitMs) {
        const double floor = sectors * waitMs / 1000.0;
        std::printf("%-6s %3d sectors: %s, wall %.3f s, floor %.3f s, ratio %.4f, cpu %.3f s "
                    "(%.2f %% of wall), %d frames sent again\n",
                    what, sectors, qPrintable(m.status), m.wall, floor, m.wall / floor, m.cpu,
                    100.0 * m.cpu / m.wall, m.frames - sectors);
        if (!m.ok || (saturate && m.frames != sectors))
            rc = 1;
    };
    report("write", write, writeSectors, 300);
    report("read", read, 128, 100);
    if (write.status != QStringLiteral("Данные записаны") ||
        read.status != QStringLiteral("Данные считаны"))
        rc = 1;

    DestroyWindows();
    return rc;
}
