// The program itself, started as the operator starts it, ended by a stop signal or by an
// X11 session manager's logout: it ends with 0 after saving its settings, instead of
// dying by the signal or being killed once the logout gives up on it, and tells the
// manager not to start it again. During a write the run stops at its next sector first.

#include "platform/ChildProcess.h"
#include "tests/common/TestSupport.h"
#include "tools/simdevice/SimDevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <csignal>
#include <memory>
#include <optional>

namespace {

constexpr int WriteSectors = 40;
// What the session manager's logout stands for in the table's signal column: a save
// request followed by the order to end, or only the request (the program must end on
// the request alone, its settings saved before it reports the save done).
constexpr int Logout = 0, SaveRequestOnly = -1;

// The program catches the signal (its handler is installed): from /proc, SigCgt. Until
// the child has run the program it has the test's own handlers.
bool Catches(int pid, int signal) {
    if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() !=
        QFileInfo(QStringLiteral(VENDRIK_BIN)).canonicalFilePath())
        return false;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// An environment variable set for the scope (the children inherit it), as before after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), previous_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

// Waits until the child's standard output holds `text`; false when it does not within
// `ms`, or the child ended without it.
bool WaitForOutput(TChildProcess& child, const QByteArray& text, int ms) {
    QDeadlineTimer deadline(ms);
    for (;;) {
        const bool open = child.ReadAvailable();
        if (child.Output.contains(text))
            return true;
        if (!open || deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
}

// xdotool's output, or nothing when it failed.
std::optional<QByteArray> Xdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    if (!xdotool.waitForFinished(5000) || xdotool.exitStatus() != QProcess::NormalExit ||
        xdotool.exitCode() != 0)
        return std::nullopt;
    return xdotool.readAllStandardOutput().trimmed();
}

// The program's main window on the X display, found by its process and title; empty
// when it does not appear.
QString MainWindow(const TChildProcess& child) {
    QByteArray window;
    QDeadlineTimer deadline(20000);
    while (window.isEmpty() && !deadline.hasExpired() && child.Running()) {
        window = Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--pid"), QString::number(child.Pid()),
                          QStringLiteral("--name"), QStringLiteral("Мелдор-2")})
                     .value_or(QByteArray())
                     .split('\n')
                     .value(0);
        if (window.isEmpty())
            QTest::qWait(50);
    }
    return QString::fromLatin1(window);
}

// A click as the operator makes it, real input through the server, at a place of the
// form (client coordinates).
bool Click(const QString& window, QPoint at) {
    return Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                    QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
                    QStringLiteral("1")})
        .has_value();
}

// "Записать с проверкой" and the middle of "Записать программу" in the main window: their
// places in the form's group box, which starts 152 pixels down.
constexpr QPoint CheckBox(16, 152 + 32), WriteButton(128, 152 + 60);

} // namespace

class TestSessionEndProgram : public QObject {
    Q_OBJECT
private slots:
    void sessionEndSavesAndEndsWithZero_data() {
        QTest::addColumn<int>("signal"); // or Logout, SaveRequestOnly
        QTest::addColumn<bool>("duringWrite");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("session manager's logout") << Logout << false;
        QTest::newRow("session manager's save request alone") << SaveRequestOnly << false;
        QTest::newRow("SIGTERM during a write") << SIGTERM << true;
        QTest::newRow("session manager's logout during a write") << Logout << true;
    }
    void sessionEndSavesAndEndsWithZero() {
        QFETCH(int, signal);
        QFETCH(bool, duringWrite);
        const bool session = signal == Logout || signal == SaveRequestOnly;
        // The session manager speaks to the program through the X11 platform, and the
        // write button is clicked on the display.
        const QByteArray display = qgetenv("VENDRIK_TEST_DISPLAY");
        if ((session || duringWrite) && display.isEmpty())
            QSKIP("needs an X display: run under scripts/with-wm.sh");
        std::optional<ScopedEnv> platform, displayName;
        if (!display.isEmpty()) {
            platform.emplace("QT_QPA_PLATFORM", "xcb");
            displayName.emplace("DISPLAY", display);
        }

        TempConfigHome home;
        QTemporaryDir files;
        const QString program = files.filePath(QStringLiteral("prog.bin"));
        QVERIFY(WriteWholeFile(program, duringWrite ? QByteArray(WriteSectors * 256, '\x11')
                                                    : QByteArray(600, '\x11')));
        // COM3, the port chosen below, is the simulated device.
        sim::SimConfig config;
        config.switchOnDelayMs = 100;
        sim::SimDevice device(config);
        if (duringWrite) {
            QVERIFY(device.Start());
            QVERIFY(home.linkComPort(3, device.SlavePath()));
        }
        // The operator's choices of an earlier run, without the version a save writes
        // first: "FormVersion" appears only if this run saved. Before a write the box is
        // ticked in this run: the write that follows shows that the click was taken.
        QVERIFY(WriteStoreFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                               "\"cbCheck_Checked\"=\"" +
                               QByteArray(duringWrite ? "False" : "True") +
                               "\"\n\"cbPort_Tag\"=\"2\"\n\"OpenDialog1_FileName\"=\"" +
                               program.toUtf8() + "\"\n\n"));

        // The session: a manager the program registers with at start, its authority file
        // private (and empty: the manager lets local clients in without one).
        TChildProcess manager;
        std::optional<ScopedEnv> sessionManager, authority;
        if (session) {
            QStringList options{"--timeout", "100"};
            if (signal == SaveRequestOnly)
                options << "--no-die";
            QVERIFY(manager.Start(QStringLiteral(XSMP_LOGOUT_BIN), options));
            QVERIFY2(WaitForOutput(manager, "\n", 10000), manager.Error.constData());
            const QByteArray listening = manager.Output.left(manager.Output.indexOf('\n'));
            QVERIFY2(listening.startsWith("listening "), listening.constData());
            sessionManager.emplace("SESSION_MANAGER", listening.mid(10));
            authority.emplace("ICEAUTHORITY", files.filePath("ice-authority").toLocal8Bit());
        }

        TChildProcess child;
        QVERIFY(child.Start(QStringLiteral(VENDRIK_BIN), {}));
        QDeadlineTimer deadline(20000);
        while (!(Catches(child.Pid(), SIGTERM) && Catches(child.Pid(), SIGHUP)) &&
               !deadline.hasExpired() && child.Running())
            QTest::qWait(10);
        QVERIFY(Catches(child.Pid(), session ? SIGTERM : signal));
        QByteArray client;
        if (session) {
            QVERIFY2(WaitForOutput(manager, "registered ", 20000), manager.Output.constData());
            const qsizetype at = manager.Output.indexOf("registered ") + 11;
            client = manager.Output.mid(at, manager.Output.indexOf('\n', at) - at);
        }
        int framesAtEnd = 0;
        if (duringWrite) {
            const QString window = MainWindow(child);
            QVERIFY(!window.isEmpty());
            QVERIFY(Click(window, CheckBox));
            QVERIFY(Click(window, WriteButton));
            QDeadlineTimer written(20000);
            while (device.Stats().writeFrames < 3 && !written.hasExpired() && child.Running())
                QTest::qWait(5);
            framesAtEnd = device.Stats().writeFrames;
            QVERIFY2(framesAtEnd >= 3, qPrintable(QString::number(framesAtEnd)));
        }

        if (session)
            manager.Signal(SIGUSR1);
        else
            child.Signal(signal);
        QVERIFY(child.WaitForExit(20000));
        QCOMPARE(child.TermSignal(), 0);
        QVERIFY2(child.ExitCode() == 0, child.Error.constData());
        if (duringWrite) {
            // The sector under way may finish (with its retry); nothing after it starts.
            const int framesAtExit = device.Stats().writeFrames;
            QVERIFY2(framesAtExit <= framesAtEnd + 2 && framesAtExit < WriteSectors,
                     qPrintable(QStringLiteral("%1 -> %2").arg(framesAtEnd).arg(framesAtExit)));
        }
        if (session) {
            // It answered the save at once and without asking to talk to the operator,
            // asked not to be restarted (SmRestartNever), and ended its connection itself.
            const bool closed = WaitForOutput(manager, "closed " + client, 10000);
            const QByteArray said = manager.Output;
            QVERIFY2(said.contains("save-done " + client + " 1\n"), said.constData());
            QVERIFY2(said.contains("property " + client + " RestartStyleHint 3\n"),
                     said.constData());
            QVERIFY2(!said.contains("interact-request"), said.constData());
            QVERIFY2(closed, said.constData());
        }
        const QByteArray stored = ReadStoreFile();
        QVERIFY2(stored.contains("\"FormVersion\"=\"0\""), stored.constData());
        QVERIFY2(stored.contains("\"cbCheck_Checked\"=\"True\""), stored.constData());
        QVERIFY2(stored.contains("\"cbPort_Tag\"=\"2\""), stored.constData());
        QVERIFY2(stored.contains("\"OpenDialog1_FileName\"=\"" + program.toUtf8() + "\""),
                 stored.constData());
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestSessionEndProgram test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionend_program.moc"
