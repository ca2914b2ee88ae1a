// Measures start-up: from starting the process to its main window being on screen
// (mapped, exposed and painted on an X server), and the peak resident memory at that
// moment, for the program and for a bare window of the same size built in this tree.
// Prints the medians and the program's ratios to the bare window, with the processor
// time each had used by then (all threads, and the main thread alone), which a busy
// machine disturbs far less than the wall time.
//
//   startup_bench [--runs N] [--first-run] [--program PATH] [--bare PATH]
//
// Without DISPLAY it starts its own Xvfb. By default the program starts as an operator
// usually starts it: with stored settings naming a program file, which it loads;
// --first-run starts it with no settings. Each program reports the moment through the
// STARTUP_PROBE hook and quits. The two programs take turns, after one unmeasured
// start of each.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Sample {
    double ms = 0;         // wall time to the window on screen
    long long peakKiB = 0; // peak resident memory then
    double cpuMs = 0;      // processor time the program had used by then
    double mainCpuMs = 0;  // the same, its main thread only
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts Xvfb on a display number it picks itself; returns ":N", or nothing.
std::optional<QString> StartXvfb(QProcess& xvfb) {
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    xvfb.start();
    // The server writes its display number once it accepts connections.
    QElapsedTimer deadline;
    deadline.start();
    while (!xvfb.canReadLine() && deadline.elapsed() < 15000)
        if (!xvfb.waitForReadyRead(500) && xvfb.state() == QProcess::NotRunning)
            return std::nullopt;
    if (!xvfb.canReadLine())
        return std::nullopt;
    bool ok = false;
    const int display = xvfb.readLine().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return QStringLiteral(":%1").arg(display);
}

// One start of the program: the time to its "exposed" line and the peak it reports.
std::optional<Sample> RunOnce(const QString& program, const QProcessEnvironment& env) {
    QProcess process;
    process.setProgram(program);
    process.setProcessEnvironment(env);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start();
    std::optional<Sample> sample;
    while (clock.elapsed() < 30000) {
        if (process.canReadLine()) {
            const QList<QByteArray> words = process.readLine().trimmed().split(' ');
            if (words.size() == 4 && words[0] == "exposed") {
                sample = Sample{double(clock.nsecsElapsed()) / 1e6, words[1].toLongLong(),
                                words[2].toDouble() / 1000, words[3].toDouble() / 1000};
                break;
            }
            continue;
        }
        if (!process.waitForReadyRead(1000) && process.state() == QProcess::NotRunning)
            break;
    }
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return sample;
}

// Stored settings as the program leaves them after a program file was opened.
bool WriteRememberedSettings(const QString& configHome, const QString& programFile) {
    QFile image(programFile);
    if (!image.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes(60000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    image.write(bytes);
    image.close();
    const QString folder = configHome + QStringLiteral("/vendrik");
    if (!QDir().mkpath(folder))
        return false;
    QFile reg(folder + QStringLiteral("/user.reg"));
    if (!reg.open(QIODevice::WriteOnly))
        return false;
    QString text = QStringLiteral("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                                  "\"FormVersion\"=\"0\"\n\"cbCheck_Checked\"=\"True\"\n"
                                  "\"cbPort_Tag\"=\"2\"\n\"OpenDialog1_FileName\"=\"%1\"\n\n");
    QString escaped = programFile;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    reg.write(text.arg(escaped).toUtf8());
    return reg.flush();
}

void Usage() {
    std::fprintf(stderr,
                 "usage: startup_bench [--runs N] [--first-run] [--program PATH] [--bare PATH]\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 15;
    bool firstRun = false;
    QString program = QStringLiteral(VENDRIK_PROGRAM);
    QString bare = QStringLiteral(BARE_WINDOW_PROGRAM);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--runs") && hasValue)
            runs = args[++i].toInt();
        else if (arg == QLatin1String("--first-run"))
            firstRun = true;
        else if (arg == QLatin1String("--program") && hasValue)
            program = args[++i];
        else if (arg == QLatin1String("--bare") && hasValue)
            bare = args[++i];
        else {
            Usage();
            return 2;
        }
    }
    if (runs < 1) {
        Usage();
        return 2;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess xvfb;
    struct StopServer {
        QProcess& server;
        ~StopServer() {
            if (server.state() != QProcess::NotRunning) {
                server.terminate();
                if (!server.waitForFinished(5000))
                    server.kill();
            }
        }
    } stopServer{xvfb};
    if (env.value(QStringLiteral("DISPLAY")).isEmpty()) {
        const std::optional<QString> display = StartXvfb(xvfb);
        if (!display) {
            std::fprintf(stderr, "startup_bench: could not start Xvfb\n");
            return 1;
        }
        env.insert(QStringLiteral("DISPLAY"), *display);
    }
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    const QString configHome = scratch.filePath(QStringLiteral("config"));
    if (!firstRun && !WriteRememberedSettings(configHome, scratch.filePath("program.bin"))) {
        std::fprintf(stderr, "startup_bench: could not write the settings\n");
        return 1;
    }
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("STARTUP_PROBE"), QStringLiteral("1"));
    if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR"))) {
        const QString runtime = scratch.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    }
    // With no session bus the toolkit would have one started for each run, a process
    // start that both programs pay and that swamps what is measured. Point them at a bus
    // that is not there, which they give up at once, as on a bare X server.
    if (!env.contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")))
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=") + scratch.filePath(QStringLiteral("no-bus")));

    // One start of each first, not counted, so both find the same caches warm; then
    // the two alternate, so that a change in the machine's load falls on both.
    std::vector<Sample> bareSamples, programSamples;
    for (int i = -1; i < runs; ++i) {
        const std::optional<Sample> b = RunOnce(bare, env);
        const std::optional<Sample> p = RunOnce(program, env);
        if (!b || !p) {
            std::fprintf(stderr, "startup_bench: %s did not report its window on screen\n",
                         qPrintable(!b ? bare : program));
            return 1;
        }
        if (i < 0)
            continue;
        bareSamples.push_back(*b);
        programSamples.push_back(*p);
    }

    struct Medians {
        double ms, kib, cpuMs, mainCpuMs;
    };
    auto medians = [](const std::vector<Sample>& samples) {
        std::vector<double> ms, kib, cpu, mainCpu;
        for (const Sample& s : samples) {
            ms.push_back(s.ms);
            kib.push_back(double(s.peakKiB));
            cpu.push_back(s.cpuMs);
            mainCpu.push_back(s.mainCpuMs);
        }
        return Medians{Median(ms), Median(kib), Median(cpu), Median(mainCpu)};
    };
    const Medians b = medians(bareSamples);
    const Medians p = medians(programSamples);
    std::printf("start-up to the main window on screen, medians of %d starts each%s\n", runs,
                firstRun ? " (first run, no settings)" : " (stored settings, program file loaded)");
    std::printf("%-12s %9s %9s %15s %15s\n", "", "time ms", "peak MiB", "processor ms",
                "main thread ms");
    std::printf("%-12s %9.1f %9.1f %15.1f %15.1f\n", "bare window", b.ms, b.kib / 1024, b.cpuMs,
                b.mainCpuMs);
    std::printf("%-12s %9.1f %9.1f %15.1f %15.1f\n", "program", p.ms, p.kib / 1024, p.cpuMs,
                p.mainCpuMs);
    std::printf("%-12s %9.2f %9.2f %15.2f %15.2f\n", "ratio", p.ms / b.ms, p.kib / b.kib,
                p.cpuMs / b.cpuMs, p.mainCpuMs / b.mainCpuMs);
    std::printf("goal: time and peak memory at most 1.30 x the bare window's\n");
    return 0;
}
