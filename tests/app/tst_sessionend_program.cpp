// The program itself, started as the operator starts it, ended by a stop signal: it
// ends with 0 after saving its settings, instead of dying by the signal.

#include "platform/ChildProcess.h"
#include "tests/common/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <csignal>

namespace {

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

} // namespace

class TestSessionEndProgram : public QObject {
    Q_OBJECT
private slots:
    void stopSignalSavesAndEndsWithZero_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void stopSignalSavesAndEndsWithZero() {
        QFETCH(int, signal);
        TempConfigHome home;
        QTemporaryDir files;
        const QString program = files.filePath(QStringLiteral("prog.bin"));
        QVERIFY(WriteWholeFile(program, QByteArray(600, '\x11')));
        // The operator's choices of an earlier run, without the version a save writes
        // first: "FormVersion" appears only if this run saved.
        QVERIFY(WriteStoreFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n"
                               "\"cbCheck_Checked\"=\"True\"\n\"cbPort_Tag\"=\"2\"\n"
                               "\"OpenDialog1_FileName\"=\"" +
                               program.toUtf8() + "\"\n\n"));
        TChildProcess child;
        QVERIFY(child.Start(QStringLiteral(VENDRIK_BIN), {}));
        QDeadlineTimer deadline(20000);
        while (!(Catches(child.Pid(), SIGTERM) && Catches(child.Pid(), SIGHUP)) &&
               !deadline.hasExpired() && child.Running())
            QTest::qWait(10);
        QVERIFY(Catches(child.Pid(), signal));
        child.Signal(signal);
        QVERIFY(child.WaitForExit(20000));
        QCOMPARE(child.TermSignal(), 0);
        QVERIFY2(child.ExitCode() == 0, child.Error.constData());
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
