// What an operator sees of a transfer: on a terminal one line that rewrites itself, in a
// log one plain line every tenth of the way.

#include "tests/cli/CliRig.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

class TestCliProgress : public QObject {
    Q_OBJECT
private slots:
    void progressSuitsWhereItGoes_data();
    void progressSuitsWhereItGoes();
};

namespace {

// Runs vendrik-cli with its standard error on the slave side of a pseudo-terminal,
// which makes it a terminal to the program; returns what came out there.
QByteArray RunOnTerminal(const QStringList& Args, int& Code) {
    PtyPair pty;
    if (!pty.ok())
        return {};
    QList<QByteArray> storage;
    std::vector<char*> argv = ExecArguments(QStringLiteral(VENDRIK_CLI_BIN), Args, storage);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(pty.slave, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(devNull);
    QByteArray seen;
    int status = 0;
    QDeadlineTimer deadline(60000);
    while (::waitpid(pid, &status, WNOHANG) == 0 && !deadline.hasExpired())
        seen += pty.drain(50);
    seen += pty.drain(50);
    Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return seen;
}

} // namespace

void TestCliProgress::progressSuitsWhereItGoes_data() {
    QTest::addColumn<bool>("terminal");
    QTest::newRow("terminal") << true;
    QTest::newRow("log") << false;
}

void TestCliProgress::progressSuitsWhereItGoes() {
    QFETCH(bool, terminal);
    auto device = StartSim();
    QVERIFY(device);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.bin"));
    QVERIFY(WriteWholeFile(file, Pattern(20 * 256)));
    const QStringList args{QStringLiteral("write"), file, QStringLiteral("--port"),
                           device->SlavePath()};
    int code = -1;
    QByteArray seen;
    if (terminal) {
        seen = RunOnTerminal(args, code);
    } else {
        const CliRun r = RunCli(args);
        code = r.code;
        seen = r.err;
    }
    QCOMPARE(code, 0);
    const QString text = QString::fromUtf8(seen);
    QVERIFY2(text.contains(QStringLiteral("Сектор 20 из 20  100%")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Данные записаны")));
    const int rewrites = int(seen.count("\r\x1b[K"));
    const int lines = int(text.count(QStringLiteral("Сектор ")));
    if (terminal) {
        // Every sector rewrites the one line, with the time left once there is a pace.
        QVERIFY2(rewrites >= 20, qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("осталось")));
    } else {
        QCOMPARE(rewrites, 0);
        // 0 %, each tenth, and 100 %: a log stays short.
        QCOMPARE(lines, 11);
    }
}

QTEST_GUILESS_MAIN(TestCliProgress)
#include "tst_cliprogress.moc"
