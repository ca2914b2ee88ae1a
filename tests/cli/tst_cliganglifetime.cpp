// However a gang ends, it ends whole: a parent killed outright leaves no port held, a
// closed terminal stops every device at its next sector, a child that does not stop is
// terminated and then killed, and each device's own end is what the table says.

#include "cli/Gang.h"
#include "platform/SerialDevice.h"
#include "platform/StopSignals.h"
#include "tests/cli/CliRig.h"
#include "tests/cli/GangRig.h"

#include <QJsonArray>
#include <QTimer>
#include <QtTest>

namespace {

struct TGangRun {
    std::vector<std::unique_ptr<sim::SimDevice>> devices;
    QTemporaryDir dir;
    QString file;
    TChildProcess process;

    QStringList Paths() const {
        QStringList paths;
        for (const auto& d : devices)
            paths.append(d->SlavePath());
        return paths;
    }
    // Starts vendrik-cli write --json on Count simulated devices.
    bool Start(int Count, int Sectors, sim::SwitchOn SwitchOn = sim::SwitchOn::OnOpen) {
        file = dir.filePath(QStringLiteral("gang.bin"));
        if (!WriteWholeFile(file, Pattern(Sectors * 256, 3)))
            return false;
        QStringList args{QStringLiteral("write"), file, QStringLiteral("--json")};
        sim::SimConfig config;
        config.switchOn = SwitchOn;
        for (int i = 0; i < Count; ++i) {
            devices.push_back(std::make_unique<sim::SimDevice>(config));
            if (!devices.back()->Start())
                return false;
            args << QStringLiteral("--port") << devices.back()->SlavePath();
        }
        return process.Start(QStringLiteral(VENDRIK_CLI_BIN), args);
    }
    bool EveryDevice(const std::function<bool(const sim::SimStats&)>& Condition) const {
        for (const auto& d : devices)
            if (!Condition(d->Stats()))
                return false;
        return true;
    }
    QJsonObject Json() const { return QJsonDocument::fromJson(process.Output).object(); }
};

QString Messages(const QJsonObject& Device) {
    QStringList all;
    for (const QJsonValue& v : Device["messages"].toArray())
        all.append(v.toString());
    return all.join(u'\n');
}

} // namespace

class TestCliGangLifetime : public QObject {
    Q_OBJECT
private slots:
    void killedParentLeavesNoPortHeld_data();
    void killedParentLeavesNoPortHeld();
    void hangUpStopsAtTheNextSector_data();
    void hangUpStopsAtTheNextSector();
    void stoppedChildIsTerminatedAfterTheGrace();
    void childThatIgnoresStopIsKilled();
    void childEndedBySignalSaysSo_data();
    void childEndedBySignalSaysSo();
    void interruptAfterEveryDeviceFinishedKeepsZero();
};

void TestCliGangLifetime::killedParentLeavesNoPortHeld_data() {
    QTest::addColumn<bool>("transferring");
    QTest::newRow("mid-transfer") << true;
    // Without --wait a child would wait for its device for ever.
    QTest::newRow("waiting for the devices") << false;
}

void TestCliGangLifetime::killedParentLeavesNoPortHeld() {
    QFETCH(bool, transferring);
    TGangRun gang;
    QVERIFY(gang.Start(2, 40, transferring ? sim::SwitchOn::OnOpen : sim::SwitchOn::Manual));
    if (transferring)
        QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.writeFrames >= 2; }),
                                 20000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.opens >= 1; }), 20000);
    // The children hold the ports, so the check below can see them.
    QCOMPARE(ProcessesHolding(gang.Paths()).size(), 2);
    gang.process.Signal(SIGKILL);
    QVERIFY(gang.process.WaitForExit(5000));
    QCOMPARE(gang.process.TermSignal(), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessesHolding(gang.Paths()).isEmpty(), 1000);
    for (const QString& path : gang.Paths()) {
        TSerialDevice port;
        QVERIFY2(port.Open(path), qPrintable(path));
    }
}

void TestCliGangLifetime::hangUpStopsAtTheNextSector_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("one device") << 1;
    QTest::newRow("gang of three") << 3;
}

void TestCliGangLifetime::hangUpStopsAtTheNextSector() {
    QFETCH(int, count);
    TGangRun gang;
    QVERIFY(gang.Start(count, 40));
    QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.writeFrames >= 3; }), 20000);
    QList<int> atSignal;
    for (const auto& d : gang.devices)
        atSignal.append(d->Stats().writeFrames);
    gang.process.Signal(SIGHUP);
    QVERIFY(gang.process.WaitForExit(20000));
    QVERIFY2(gang.process.ExitCode() == 130, gang.process.Error.constData());
    const QJsonObject j = gang.Json();
    QCOMPARE(j["outcome"].toString(), QStringLiteral("interrupted"));
    const QJsonArray list = count == 1 ? QJsonArray{j} : j["devices"].toArray();
    QCOMPARE(list.size(), count);
    for (int i = 0; i < count; ++i) {
        const QJsonObject d = list[i].toObject();
        QCOMPARE(d["outcome"].toString(), QStringLiteral("interrupted"));
        // The sector under way may finish (with its retry); nothing after it is started.
        const int atExit = gang.devices[size_t(i)]->Stats().writeFrames;
        QVERIFY2(atExit <= atSignal[i] + 2,
                 qPrintable(QStringLiteral("%1 -> %2").arg(atSignal[i]).arg(atExit)));
        QVERIFY(d["sectorsDone"].toInt() >= atSignal[i] - 1);
        TSerialDevice port;
        QVERIFY(port.Open(gang.devices[size_t(i)]->SlavePath()));
    }
}

void TestCliGangLifetime::stoppedChildIsTerminatedAfterTheGrace() {
    TGangRun gang;
    QVERIFY(gang.Start(2, 40));
    QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.writeFrames >= 2; }), 20000);
    const int stopped = ChildHolding(gang.process.Pid(), gang.devices[1]->SlavePath());
    QVERIFY(stopped > 0);
    QVERIFY(SendSignal(stopped, SIGSTOP));
    QTRY_COMPARE_WITH_TIMEOUT(ProcessState(stopped), 'T', 5000);
    const int framesWhenStopped = gang.devices[1]->Stats().writeFrames;
    gang.process.Interrupt();
    // The grace, SIGTERM with SIGCONT, then at most the next sector.
    QVERIFY(gang.process.WaitForExit(20000));
    QVERIFY2(gang.process.ExitCode() == 130, gang.process.Error.constData());
    const QJsonArray list = gang.Json()["devices"].toArray();
    QCOMPARE(list.size(), 2);
    const QJsonObject running = list[0].toObject(), woken = list[1].toObject();
    QCOMPARE(running["outcome"].toString(), QStringLiteral("interrupted"));
    QVERIFY2(!Messages(running).contains(QStringLiteral("SIGTERM")), qPrintable(Messages(running)));
    // Woken by the escalation, it stopped at its next sector and says what was done to it.
    QCOMPARE(woken["outcome"].toString(), QStringLiteral("interrupted"));
    QVERIFY2(Messages(woken).contains(QStringLiteral("не остановился за 3 с: послан SIGTERM")),
             qPrintable(Messages(woken)));
    QVERIFY(!Messages(woken).contains(QStringLiteral("SIGKILL")));
    QVERIFY(gang.devices[1]->Stats().writeFrames <= framesWhenStopped + 2);
    for (const QString& path : gang.Paths()) {
        TSerialDevice port;
        QVERIFY2(port.Open(path), qPrintable(path));
    }
}

void TestCliGangLifetime::childThatIgnoresStopIsKilled() {
    // Children that ignore every stop signal, run by the gang in this process.
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("stuck"));
    QVERIFY(WriteWholeFile(program, "#!/bin/sh\ntrap '' INT TERM HUP\nexec sleep 60\n"));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    TArguments args;
    args.file = dir.filePath(QStringLiteral("program.bin"));
    args.ports = {QStringLiteral("/dev/stuck-a"), QStringLiteral("/dev/stuck-b")};
    args.quiet = true;
    TStopSignals stop;
    QVERIFY(stop.Install());
    QTimer::singleShot(200, [] { std::raise(SIGINT); });
    const TGangResult gang = RunGang(program, args, stop);
    QCOMPARE(int(gang.code), int(ExitGangFailed));
    QCOMPARE(gang.devices.size(), 2);
    for (const TRunResult& d : gang.devices) {
        QCOMPARE(int(d.code), int(ExitKilled));
        QCOMPARE(
            d.messages,
            (QStringList{QStringLiteral("процесс прибора завершён сигналом 9"),
                         QStringLiteral("не остановился за 3 с: послан SIGTERM"),
                         QStringLiteral("не завершился за 3 с после SIGTERM: послан SIGKILL")}));
    }
    // Both graces were waited out in full, and not much more.
    QVERIFY2(gang.totalMs >= 6000 && gang.totalMs < 12000,
             qPrintable(QString::number(gang.totalMs)));
}

void TestCliGangLifetime::childEndedBySignalSaysSo_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGKILL") << int(SIGKILL);
    QTest::newRow("SIGUSR1") << int(SIGUSR1);
}

void TestCliGangLifetime::childEndedBySignalSaysSo() {
    QFETCH(int, signal);
    TGangRun gang;
    QVERIFY(gang.Start(2, 12));
    QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.writeFrames >= 2; }), 20000);
    QVERIFY(SendSignal(ChildHolding(gang.process.Pid(), gang.devices[0]->SlavePath()), signal));
    QVERIFY(gang.process.WaitForExit(30000));
    QVERIFY2(gang.process.ExitCode() == 1, gang.process.Error.constData());
    const QJsonObject j = gang.Json();
    QCOMPARE(j["outcome"].toString(), QStringLiteral("gang-failed"));
    const QJsonArray list = j["devices"].toArray();
    QCOMPARE(list.size(), 2);
    const QJsonObject killed = list[0].toObject();
    QCOMPARE(killed["outcome"].toString(), QStringLiteral("killed"));
    QCOMPARE(killed["port"].toString(), gang.devices[0]->SlavePath());
    QCOMPARE(Messages(killed), QStringLiteral("процесс прибора завершён сигналом %1").arg(signal));
    QCOMPARE(list[1].toObject()["outcome"].toString(), QStringLiteral("done"));
    QCOMPARE(OutcomeText(ExitKilled), QStringLiteral("завершён сигналом"));
}

void TestCliGangLifetime::interruptAfterEveryDeviceFinishedKeepsZero() {
    constexpr int Devices = 3, Sectors = 4;
    TGangRun gang;
    QVERIFY(gang.Start(Devices, Sectors));
    QTRY_VERIFY_WITH_TIMEOUT(gang.EveryDevice([](auto& s) { return s.writeFrames >= 1; }), 20000);
    // Held still, the parent cannot collect its children before the interrupt arrives.
    gang.process.Signal(SIGSTOP);
    QTRY_COMPARE_WITH_TIMEOUT(ProcessState(gang.process.Pid()), 'T', 5000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QList<int> children = ChildrenOf(gang.process.Pid());
            return children.size() == Devices &&
                   std::all_of(children.begin(), children.end(),
                               [](int pid) { return ProcessState(pid) == 'Z'; });
        }(),
        20000);
    gang.process.Interrupt();
    gang.process.Continue();
    QVERIFY(gang.process.WaitForExit(20000));
    QVERIFY2(gang.process.ExitCode() == 0, gang.process.Error.constData());
    const QJsonObject j = gang.Json();
    QCOMPARE(j["outcome"].toString(), QStringLiteral("done"));
    for (const QJsonValue& d : j["devices"].toArray())
        QCOMPARE(d.toObject()["sectorsDone"].toInt(), Sectors);
}

QTEST_GUILESS_MAIN(TestCliGangLifetime)
#include "tst_cliganglifetime.moc"
