// What a device run reports as values: its outcome and the order of its state changes,
// through the real port to the simulated device, for every way a run can end. The
// windows' texts are checked elsewhere; here nothing looks at a text.

#include "base/CoreApplication.h"
#include "programmer/DeviceRun.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/SimLink.h"

#include <QtTest/QTest>

namespace {

// The run's observer and a windowless view in one; the "progress window" is a wait
// that ends with the run, or acts on the run once it has been shown (Action).
struct TOutcomeRecorder : TWindowlessRunView, TDeviceRunObserver {
    int portIndex = 0;
    QStringList events;
    std::optional<TRunOutcome> outcome;
    std::function<void(TDeviceRun&)> whileWaiting;
    std::function<void(TDeviceRun&, int)> atSector;
    TDeviceRun* run = nullptr;
    bool watchdogFired = false;

    int SelectedPortIndex() const override { return portIndex; }
    bool ProgressWindowShown() const override { return true; }
    void ShowNotice(const TNotice& Notice) override { events << "notice " + Notice.text; }
    void ShowProgressModal() override {
        if (whileWaiting)
            whileWaiting(*run);
        watchdogFired = !QTest::qWaitFor([this] { return outcome.has_value(); }, 15000);
    }

    void RunWaiting(TRunKind Kind) override {
        events << (Kind == TRunKind::Read ? "waiting read" : "waiting write");
    }
    void RunAnnounced() override { events << "announced"; }
    void RunSector(int Sector, int Total) override {
        events << QStringLiteral("sector %1/%2").arg(Sector).arg(Total);
        if (atSector)
            atSector(*run, Sector);
    }
    void RunRetried(int Sector) override { events << QStringLiteral("retried %1").arg(Sector); }
    void RunEnded(const TRunOutcome& Outcome) override {
        events << "ended " + RunEndName(Outcome.end);
        outcome = Outcome;
    }
};

void LoadProgram(int sectors) {
    ProgramImage.fill(0xFF);
    for (int i = 0; i < sectors * 256; ++i)
        ProgramImage[size_t(i)] = quint8(i * 3 + i / 256);
    ProgramSize = sectors * 256;
    SectorCount = sectors;
    ProgramLoaded = true;
}

enum class TAct { None, StopAtSector1, StopWaiting, GiveUp, HangUpWaiting, NoPort, NoProgram };

} // namespace

Q_DECLARE_METATYPE(TRunEnd)
Q_DECLARE_METATYPE(TAct)

class TestRunOutcome : public QObject {
    Q_OBJECT
private slots:
    void runEndsWithWhatHappened_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<TAct>("act");
        QTest::addColumn<TRunEnd>("end");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("retries");
        QTest::addColumn<bool>("reason"); // the link's text is given
        QTest::addColumn<QStringList>("events");

        const QStringList written{"waiting write", "announced",  "sector 0/3",
                                  "sector 1/3",    "sector 2/3", "ended done"};
        QTest::newRow("write of three sectors")
            << false << QStringList{} << TAct::None << TRunEnd::Done << 3 << 3 << -1 << 0 << false
            << written;
        QTest::newRow("a retry that passes is no failure")
            << false << QStringList{"W:1:noreply:1"} << TAct::None << TRunEnd::Done << 3 << 3 << -1
            << 1 << false << QStringList{"waiting write", "announced",  "sector 0/3", "sector 1/3",
                                         "retried 1",     "sector 2/3", "ended done"};
        QTest::newRow("the second attempt fails too")
            << false << QStringList{"W:1:noreply:2"} << TAct::None << TRunEnd::SectorFailed << 3
            << 1 << 1 << 1 << false
            << QStringList{"waiting write", "announced", "sector 0/3",
                           "sector 1/3",    "retried 1", "ended sector-failed"};
        // A stop asked for during sector 1 ends the loop before sector 2; sector 1 still
        // passed, so the count is neither one too many nor one too few.
        QTest::newRow("stopped between sectors")
            << false << QStringList{} << TAct::StopAtSector1 << TRunEnd::Stopped << 3 << 2 << -1
            << 0 << false
            << QStringList{"waiting write", "announced", "sector 0/3", "sector 1/3",
                           "ended stopped"};
        QTest::newRow("the line drops under the transfer")
            << false << QStringList{"W:1:hangup:1"} << TAct::None << TRunEnd::LinkError << 3 << 1
            << -1 << 0 << true << QStringList{};
        QTest::newRow("read fails at its first sector")
            << true << QStringList{"R:0:noreply:2"} << TAct::None << TRunEnd::SectorFailed << 128
            << 0 << 0 << 1 << false
            << QStringList{"waiting read", "announced", "sector 0/128", "retried 0",
                           "ended sector-failed"};
        QTest::newRow("stopped while waiting")
            << false << QStringList{} << TAct::StopWaiting << TRunEnd::Stopped << 0 << 0 << -1 << 0
            << false << QStringList{"waiting write", "ended stopped"};
        QTest::newRow("the front end stops waiting")
            << true << QStringList{} << TAct::GiveUp << TRunEnd::NoAnnouncement << 0 << 0 << -1 << 0
            << false << QStringList{"waiting read", "ended no-announcement"};
        QTest::newRow("the line hangs up while waiting")
            << false << QStringList{} << TAct::HangUpWaiting << TRunEnd::LinkError << 0 << 0 << -1
            << 0 << true << QStringList{"waiting write", "ended link-error"};
        QTest::newRow("no port selected")
            << true << QStringList{} << TAct::NoPort << TRunEnd::PortNotOpened << 0 << 0 << -1 << 0
            << true << QStringList{"notice Не могу открыть порт", "ended port-not-opened"};
        QTest::newRow("write with no program")
            << false << QStringList{} << TAct::NoProgram << TRunEnd::NoProgram << 0 << 0 << -1 << 0
            << false << QStringList{"notice Программа не загружена", "ended no-program"};
    }

    void runEndsWithWhatHappened() {
        QFETCH(bool, read);
        QFETCH(QStringList, faults);
        QFETCH(TAct, act);
        QFETCH(TRunEnd, end);
        QFETCH(int, total);
        QFETCH(int, done);
        QFETCH(int, failed);
        QFETCH(int, retries);
        QFETCH(bool, reason);
        QFETCH(QStringList, events);

        LoadProgram(3);
        if (act == TAct::NoProgram)
            ProgramLoaded = false;
        sim::SimConfig config;
        const bool waitsForever =
            act == TAct::StopWaiting || act == TAct::GiveUp || act == TAct::HangUpWaiting;
        config.switchOn = waitsForever ? sim::SwitchOn::Manual : sim::SwitchOn::OnOpen;
        config.switchOnDelayMs = 100;
        for (const QString& r : faults)
            config.faults.rules.push_back(*sim::ParseFaultRule(r, nullptr));
        SimLink link(config);
        QVERIFY(link.started);
        TOutcomeRecorder view;
        TDeviceRun run(link.line, view);
        view.run = &run;
        run.SetObserver(&view);
        if (act == TAct::NoPort)
            view.portIndex = -1;
        link.port.OnRxChar = [&](QObject*, int) { run.Received(); };
        link.port.OnHangUp = [&](QObject*) { run.LineLost(QStringLiteral("line lost")); };
        if (act == TAct::StopAtSector1)
            view.atSector = [](TDeviceRun& r, int Sector) {
                if (Sector == 1)
                    r.Stop();
            };
        if (act == TAct::StopWaiting)
            view.whileWaiting = [](TDeviceRun& r) { r.Stop(); };
        if (act == TAct::GiveUp)
            view.whileWaiting = [](TDeviceRun& r) { r.GiveUpWaiting(); };
        if (act == TAct::HangUpWaiting)
            view.whileWaiting = [&link](TDeviceRun&) { link.device.HangUp(); };

        if (read)
            run.StartRead();
        else
            run.StartWrite();
        QVERIFY(!view.watchdogFired);
        QVERIFY(view.outcome);
        const TRunOutcome& o = *view.outcome;
        QCOMPARE(o.kind, read ? TRunKind::Read : TRunKind::Write);
        QCOMPARE(RunEndName(o.end), RunEndName(end));
        QCOMPARE(o.sectorsTotal, total);
        QCOMPARE(o.sectorsDone, done);
        QCOMPARE(o.failedSector, failed);
        QCOMPARE(o.retries, retries);
        QCOMPARE(!o.reason.isEmpty(), reason);
        QCOMPARE(bool(o.failure), end == TRunEnd::LinkError && total > 0);
        if (!events.isEmpty())
            QCOMPARE(view.events, events);
        // Ended is told once and last, with the port already closed.
        QCOMPARE(view.events.filter(QStringLiteral("ended")).size(), 1);
        QVERIFY(view.events.last().startsWith(QStringLiteral("ended")));
        QVERIFY(!link.port.IsOpen());
        QVERIFY(!run.Waiting());
        QVERIFY(!run.TransferRunning());
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestRunOutcome test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runoutcome.moc"
