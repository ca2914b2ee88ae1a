// The bash completions of the three programs, as bash offers them: each script is
// sourced in a fresh bash, the command line is put into COMP_WORDS/COMP_CWORD and the
// script's function fills COMPREPLY. File names come from a folder of known contents.

#include "platform/ChildProcess.h"
#include "tests/common/TestSupport.h"

#include <QDir>
#include <QtTest>

namespace {

// What the completion function of Program offers for Words, the last one being
// completed, run in Folder.
QStringList Offered(const QString& Program, const QStringList& Words, const QString& Folder,
                    QString& Error) {
    QString words;
    for (const QString& w : Words)
        words += u'\'' + QString(w).replace(u'\'', QStringLiteral("'\\''")) + QStringLiteral("' ");
    const QString script =
        QStringLiteral("cd '%1' || exit 3\n"
                       "source '%2/%3' || exit 4\n"
                       "registered=$(complete -p %3) || exit 5\n"
                       "fn=${registered#*-F }; fn=${fn%% *}\n"
                       "COMP_WORDS=(%3 %4); COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                       "COMP_LINE=\"${COMP_WORDS[*]}\"; COMP_POINT=${#COMP_LINE}\n"
                       // A function's status is of no interest to bash: only COMPREPLY is.
                       "\"$fn\" %3 \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                       "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
            .arg(Folder, QStringLiteral(VENDRIK_COMPLETIONS_DIR), Program, words);
    TChildProcess bash;
    if (!bash.Start(QStringLiteral("/bin/bash"),
                    {QStringLiteral("--norc"), QStringLiteral("-c"), script}) ||
        !bash.WaitForExit(20000)) {
        Error = QStringLiteral("bash did not run");
        return {};
    }
    if (bash.ExitCode() != 0)
        Error = QStringLiteral("bash ended %1: %2")
                    .arg(bash.ExitCode())
                    .arg(QString::fromUtf8(bash.Error));
    QStringList offered = QString::fromUtf8(bash.Output).split(u'\n', Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

} // namespace

class TestCompletion : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void offersWhatTheCommandLineTakes_data();
    void offersWhatTheCommandLineTakes();

private:
    QTemporaryDir dir_;
};

void TestCompletion::initTestCase() {
    QVERIFY(WriteWholeFile(dir_.filePath(QStringLiteral("firmware.bin")), "x"));
    QVERIFY(WriteWholeFile(dir_.filePath(QStringLiteral("notes.txt")), "x"));
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("images")));
}

void TestCompletion::offersWhatTheCommandLineTakes_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("words");   // after the program's name; the last is completed
    QTest::addColumn<QStringList>("offered"); // sorted; "ports" rows: must include these
    QTest::addColumn<bool>("exact");

    const QStringList comNumbers{"1", "2", "3", "4", "5", "6", "7", "8"};
    QTest::newRow("cli: the commands") << "vendrik-cli" << QStringList{""}
                                       << QStringList{"--help", "compare", "read", "write"} << true;
    QTest::newRow("cli: a command begun")
        << "vendrik-cli" << QStringList{"wr"} << QStringList{"write"} << true;
    QTest::newRow("cli: --verify belongs to write")
        << "vendrik-cli" << QStringList{"write", "firmware.bin", "--v"} << QStringList{"--verify"}
        << true;
    QTest::newRow("cli: read has no --verify")
        << "vendrik-cli" << QStringList{"read", "out.bin", "--v"} << QStringList{} << true;
    QTest::newRow("cli: ports after --port")
        << "vendrik-cli" << QStringList{"write", "firmware.bin", "--port", ""} << comNumbers
        << false;
    QTest::newRow("cli: ports after -p")
        << "vendrik-cli" << QStringList{"compare", "firmware.bin", "-p", ""} << comNumbers << false;
    QTest::newRow("cli: write takes program images and folders")
        << "vendrik-cli" << QStringList{"write", ""} << QStringList{"firmware.bin", "images"}
        << true;
    QTest::newRow("cli: read saves to any file")
        << "vendrik-cli" << QStringList{"read", ""}
        << QStringList{"firmware.bin", "images", "notes.txt"} << true;
    QTest::newRow("port: the commands")
        << "vendrik-port" << QStringList{""}
        << QStringList{"--help", "check", "list", "loopback", "map", "udev", "unmap"} << true;
    QTest::newRow("port: COM numbers for check")
        << "vendrik-port" << QStringList{"check", ""} << comNumbers << true;
    QTest::newRow("port: udev may install")
        << "vendrik-port" << QStringList{"udev", "3", ""} << QStringList{"--install"} << true;
    QTest::newRow("sim: switch-on modes") << "meldor2-sim" << QStringList{"--switch-on", ""}
                                          << QStringList{"delay", "manual", "open"} << true;
    QTest::newRow("sim: fault kinds after OP and SECTOR")
        << "meldor2-sim" << QStringList{"--fault", "W:2:no"}
        << QStringList{"W:2:noise", "W:2:noreply"} << true;
    QTest::newRow("sim: options begun")
        << "meldor2-sim" << QStringList{"--s"} << QStringList{"--seed", "--switch-on"} << true;
    QTest::newRow("sim: COM numbers")
        << "meldor2-sim" << QStringList{"--com", ""} << comNumbers << true;
}

void TestCompletion::offersWhatTheCommandLineTakes() {
    QFETCH(QString, program);
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QFETCH(bool, exact);
    QString error;
    const QStringList got = Offered(program, words, dir_.path(), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    if (exact) {
        QCOMPARE(got, offered);
        return;
    }
    for (const QString& o : offered)
        QVERIFY2(got.contains(o), qPrintable(got.join(u' ')));
    // Whatever else is offered is a device.
    for (const QString& g : got)
        QVERIFY2(offered.contains(g) || g.startsWith(QStringLiteral("/dev/")), qPrintable(g));
}

QTEST_GUILESS_MAIN(TestCompletion)
#include "tst_completion.moc"
