// Processor time of the serial link while it waits: the message-dispatching delay, an
// idle open port, and a port receiving a 260-byte burst every 100 ms over a
// pseudo-terminal. Prints each as a share of wall time.
#include "comm/VaComm.h"
#include "window/Application.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

template <typename F> void Measure(const char* what, F run) {
    QElapsedTimer wall;
    const double cpu0 = CpuMs();
    wall.start();
    run();
    const double cpu = CpuMs() - cpu0;
    const double ms = double(wall.elapsed());
    std::printf("%-52s wall %6.0f ms  cpu %7.1f ms  share %5.2f %%\n", what, ms, cpu,
                100.0 * cpu / ms);
}
} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);

    Measure("DelayWithMessages(2000)", [] { DelayWithMessages(2000); });

    int master = -1, slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    TVaComm port;
    port.SetDeviceName(QString::fromLocal8Bit(name));
    port.SetBaudrate(br57600);
    port.SetMonitorEvents({ceRxChar});
    qint64 received = 0;
    port.OnRxChar = [&](QObject*, int) {
        QByteArray s;
        port.ReadText(s);
        received += s.size();
    };
    port.Open();

    Measure("idle open port, 5 s", [] { DelayWithMessages(5000); });

    const QByteArray burst(260, 'U');
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    sender.setInterval(100);
    QObject::connect(&sender, &QTimer::timeout, [&] {
        if (::write(master, burst.constData(), size_t(burst.size())) < 0)
            std::perror("write");
    });
    sender.start();
    Measure("260-byte burst every 100 ms, 5 s (incl. sender)", [] { DelayWithMessages(5000); });
    sender.stop();
    DelayWithMessages(100);
    std::printf("bytes received: %lld\n", static_cast<long long>(received));

    port.Close();
    ::close(master);
    ::close(slave);
    return 0;
}
