// Gang programming against single-device programming: vendrik-cli writes the same
// program into one simulated device, then into N at once (one process each; default 8,
// up to 64), and the bench prints the gang's wall time over the single run's, with the
// processor time the programs used as a share of one core. Goal: a ratio of at most 1.02
// at 64 devices, the programs using at most 10 % of one core. With --devices 1 the
// "gang" is a second single run (one port needs no children): the noise floor.
//
//   gang_bench [--short] [--sectors N] [--devices N] [--rounds N]
// The devices are simulated in this process, on pseudo-terminals; their processor time
// is printed apart. The transfers are paced by the device's fixed waits (300 ms a
// sector), so even two shared cores leave the programs idle nearly all the time.
// --short writes 10 sectors (for CI: shows the bench works). Fails (exit 1) when a run
// did not end well or a device does not hold the program afterwards, not on the ratio.

#include "platform/ChildProcess.h"
#include "tools/simdevice/SimDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

double Seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Processor time of the children this process has waited for, all their descendants
// included once their parents waited for them.
double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

double OwnCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Measure {
    double wall = 0;
    double cpu = 0; // the programs'
    double simCpu = 0;
    int code = -1;
    QByteArray output;
};

// Where a gang's wall time goes: its slowest and fastest device by their own clocks
// (port open to port closed), the rest being the processes' start and end.
void PrintGangShares(const Measure& Gang) {
    const QJsonArray devices = QJsonDocument::fromJson(Gang.output).object()["devices"].toArray();
    if (devices.isEmpty())
        return;
    double slowest = 0, fastest = 1e9, slowestWait = 0;
    for (const QJsonValue& v : devices) {
        const QJsonObject t = v.toObject()["timings"].toObject();
        slowest = std::max(slowest, t["totalMs"].toDouble() / 1000);
        fastest = std::min(fastest, t["totalMs"].toDouble() / 1000);
        slowestWait = std::max(slowestWait, t["waitMs"].toDouble() / 1000);
    }
    std::printf("  gang: devices' own runs %.3f s to %.3f s (longest wait for the announcement "
                "%.3f s); outside the slowest run %.3f s\n",
                fastest, slowest, slowestWait, Gang.wall - slowest);
}

Measure Run(const QStringList& Args) {
    Measure m;
    const double cpu0 = ChildrenCpu(), sim0 = OwnCpu();
    QElapsedTimer clock;
    clock.start();
    TChildProcess cli;
    if (cli.Start(QStringLiteral(VENDRIK_CLI_BIN), Args) && cli.WaitForExit(-1))
        m.code = cli.ExitCode();
    m.wall = clock.nsecsElapsed() / 1e9;
    m.cpu = ChildrenCpu() - cpu0;
    m.simCpu = OwnCpu() - sim0;
    m.output = cli.Output;
    if (m.code != 0)
        std::fprintf(stderr, "%s", cli.Error.constData());
    return m;
}

constexpr int MaxDevices = 64;
constexpr double RatioGoal = 1.02;
constexpr double ShareGoalPercent = 10;

int Number(const QStringList& Args, const QString& Name, int Default) {
    const qsizetype i = Args.indexOf(Name);
    return i >= 0 && i + 1 < Args.size() ? Args[i + 1].toInt() : Default;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int sectors = Number(args, QStringLiteral("--sectors"),
                               args.contains(QStringLiteral("--short")) ? 10 : 100);
    const int count = Number(args, QStringLiteral("--devices"), 8);
    const int rounds = Number(args, QStringLiteral("--rounds"), 1);
    if (sectors < 1 || sectors > 506 || count < 1 || count > MaxDevices || rounds < 1) {
        std::fprintf(stderr, "gang_bench: --sectors 1..506, --devices 1..%d, --rounds 1 or more\n",
                     MaxDevices);
        return 2;
    }
    // Each device is a pseudo-terminal pair here and two pipes in the gang's parent.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("program.bin"));
    QByteArray program(sectors * 256, '\0');
    for (int i = 0; i < program.size(); ++i)
        program[i] = char((i * 7 + i / 256) % 251);
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(program) != program.size())
        return 2;
    f.close();

    std::vector<std::unique_ptr<sim::SimDevice>> devices;
    for (int i = 0; i < count; ++i) {
        devices.push_back(std::make_unique<sim::SimDevice>());
        if (!devices.back()->Start()) {
            std::fprintf(stderr, "gang_bench: no pseudo-terminal for device %d\n", i + 1);
            return 2;
        }
    }

    std::printf("gang bench: %d sectors (floor %.1f s a device), %d devices, %d round(s)\n",
                sectors, sectors * 0.3, count, rounds);
    std::printf("| round | run | wall | programs' processor | share of one core | simulators |\n");
    std::printf("|---|---|---|---|---|---|\n");
    bool ok = true;
    double singleSum = 0, gangSum = 0, gangCpuSum = 0;
    for (int round = 1; round <= rounds; ++round) {
        const Measure single = Run({QStringLiteral("write"), file, QStringLiteral("--port"),
                                    devices[0]->SlavePath(), QStringLiteral("--quiet")});
        QStringList gangArgs{QStringLiteral("write"), file, QStringLiteral("--quiet"),
                             QStringLiteral("--json")};
        for (const auto& d : devices)
            gangArgs << QStringLiteral("--port") << d->SlavePath();
        const Measure gang = Run(gangArgs);
        for (const auto& [name, m] : {std::pair{"single", single}, std::pair{"gang", gang}})
            std::printf("| %d | %s | %.3f s | %.3f s | %.2f %% | %.3f s |\n", round, name, m.wall,
                        m.cpu, 100 * m.cpu / m.wall, m.simCpu);
        PrintGangShares(gang);
        ok = ok && single.code == 0 && gang.code == 0;
        singleSum += single.wall;
        gangSum += gang.wall;
        gangCpuSum += gang.cpu;
    }
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i]->Memory().left(program.size()) != program) {
            std::fprintf(stderr, "gang_bench: device %zu does not hold the program\n", i + 1);
            ok = false;
        }
    const double ratio = gangSum / singleSum;
    const double share = 100 * gangCpuSum / gangSum;
    std::printf("gang / single: %.4f (goal at most %.2f: %s); programs of the gang: %.2f %% of "
                "one core (goal at most %.0f %%: %s)\n",
                ratio, RatioGoal, ratio <= RatioGoal ? "met" : "missed", share, ShareGoalPercent,
                share <= ShareGoalPercent ? "met" : "missed");
    if (!ok)
        std::fprintf(stderr, "gang_bench: a run did not end well\n");
    return ok ? 0 : 1;
}
