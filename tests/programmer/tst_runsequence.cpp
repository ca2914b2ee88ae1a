// Device runs against a recording link, a recording view and an observer that share one
// log: the exact calls on the line from the port's set-up to its close, the observer's
// events in order, and the order of the end of a transfer (status text, port closed,
// animation stopped, Close enabled). The runs over a real port are tst_devicerun's.

#include "base/CoreApplication.h"
#include "programmer/DeviceRun.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/RecordingLink.h"

#include <QtTest/QTest>
#include <functional>

namespace {

QString AnimationName(TRunAnimation Animation) {
    switch (Animation) {
    case raNone:
        return QStringLiteral("none");
    case raFindComputer:
        return QStringLiteral("find-computer");
    case raFindFile:
        return QStringLiteral("find-file");
    }
    return QStringLiteral("?");
}

QString OnOff(bool On) {
    return On ? QStringLiteral("on") : QStringLiteral("off");
}

// The windows as "view ..." lines of the shared log. The progress window is up while
// ShowProgressModal runs onModal, as if the device or the operator acted meanwhile.
struct TRecordingView : TDeviceRunView {
    explicit TRecordingView(QStringList& Log) : log(Log) {}
    QStringList& log;
    std::function<void()> onModal;
    bool shown = false;

    int SelectedPortIndex() const override { return 2; }
    bool WriteWithCheck() const override { return false; }
    void SetModeText(const QString& Text) override { log << "view mode " + Text; }
    void SetAnimation(TRunAnimation Animation) override {
        log << "view animation " + AnimationName(Animation);
    }
    void SetCloseEnabled(bool Enabled) override { log << "view close-button " + OnOff(Enabled); }
    void CentreProgressWindow() override { log << QStringLiteral("view centre"); }
    void ShowProgressModal() override {
        log << QStringLiteral("view modal");
        shown = true;
        if (onModal)
            onModal();
        shown = false;
    }
    bool ProgressWindowShown() const override { return shown; }
    void SetMainWindowBusy(bool Busy) override { log << "view busy " + OnOff(Busy); }
    void ReportFailure(std::exception_ptr Error) override {
        log << "view failure " + ExceptionMessage(Error);
    }
    void ShowNotice(const TNotice& Notice) override { log << "view notice " + Notice.text; }
    void SetProgressRange(int Min, int Max) override {
        log << QStringLiteral("view range %1 %2").arg(Min).arg(Max);
    }
    void SetProgressPosition(int) override {}
    void SetStatusText(const QString& Text) override { log << "view status " + Text; }
    void SetSaveAsEnabled(bool Enabled) override { log << "view save-as " + OnOff(Enabled); }
};

struct TRecordingObserver : TDeviceRunObserver {
    explicit TRecordingObserver(QStringList& Log) : log(Log) {}
    QStringList& log;
    void RunWaiting(TRunKind Kind) override {
        log << QStringLiteral("event waiting ") +
                   (Kind == TRunKind::Read ? QStringLiteral("read") : QStringLiteral("write"));
    }
    void RunAnnounced() override { log << QStringLiteral("event announced"); }
    void RunSector(int Sector, int Total) override {
        log << QStringLiteral("event sector %1/%2").arg(Sector).arg(Total);
    }
    void RunRetried(int Sector) override { log << QStringLiteral("event retried %1").arg(Sector); }
    void RunEnded(const TRunOutcome& Outcome) override {
        log << "event ended " + OutcomeLine(Outcome);
    }
};

QStringList EventLines(const QStringList& Log) {
    QStringList lines;
    for (const QString& l : Log)
        if (l.startsWith(QStringLiteral("event ")))
            lines << l.mid(6);
    return lines;
}

// Everything logged after the transfer's last exchange with the device.
QStringList EndOfRun(const QStringList& Log) {
    qsizetype last = -1;
    for (qsizetype i = 0; i < Log.size(); ++i)
        if (!Log[i].startsWith(QStringLiteral("view ")) &&
            !Log[i].startsWith(QStringLiteral("event ")) && Log[i] != QStringLiteral("close"))
            last = i;
    return Log.mid(last + 1);
}

QStringList SectorEvents(int From, int To, int Total) {
    QStringList events;
    for (int n = From; n < To; ++n)
        events << QStringLiteral("sector %1/%2").arg(n).arg(Total);
    return events;
}

// The device sends Burst and the received-character notification follows.
void Announce(TRecordingLink& Link, TDeviceRun& Run, const QByteArray& Burst) {
    Link.Arrive(Burst);
    Run.Received();
}

// The link, the windows and the observer of one run, sharing one log.
struct TRecordedRun {
    QStringList log;
    TRecordingLink link{log};
    TRecordingView view{log};
    TRecordingObserver observer{log};
    TDeviceRun run{link, view};
    int stopAfterCalls = 0; // run.Stop() once the link has logged that many calls

    TRecordedRun(const TReplyScript& Script, const QString& FailCall) {
        OperationMode = 0;
        link.script = Script;
        if (!FailCall.isEmpty())
            link.FailOn(FailCall.section(' ', 0, 0), FailCall.section(' ', 1).toInt());
        run.SetObserver(&observer);
        link.OnCall = [this](const QString&) {
            if (link.calls == stopAfterCalls)
                run.Stop();
        };
    }
};

const QString LinkError = " reason=" + LinkErrorText;

} // namespace

class TestRunSequence : public QObject {
    Q_OBJECT
private slots:
    void runMakesExactCallsAndTellsEventsInOrder_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("sectors");
        QTest::addColumn<TReplyScript>("script");
        QTest::addColumn<int>("stopAfterCalls");
        QTest::addColumn<QString>("failCall");
        // Bursts the device sends while the progress window is up, each followed by the
        // received-character notification; then what the operator or the line does.
        QTest::addColumn<QByteArrayList>("bursts");
        QTest::addColumn<QString>("then");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("events");

        const QStringList setUp{"close", "open 3"};
        const QStringList announced = setUp + QStringList{"read !"};
        QTest::newRow("write of 3 sectors")
            << false << 3 << TReplyScript{} << 0 << QString() << QByteArrayList{"!"} << QString()
            << announced + WriteAttempts(0, 3) + QStringList{"close"}
            << QStringList{"waiting write", "announced",  "sector 0/3",
                           "sector 1/3",    "sector 2/3", "ended done 3/3"};
        QTest::newRow("read") << true << 3 << TReplyScript{} << 0 << QString()
                              << QByteArrayList{"!"} << QString()
                              << announced + ReadAttempts(0, 128) + QStringList{"close"}
                              << QStringList{"waiting read", "announced"} +
                                     SectorEvents(0, 128, 128) + QStringList{"ended done 128/128"};
        QTest::newRow("write with a retry")
            << false << 3 << TReplyScript{{1, TReply::Nothing()}} << 0 << QString()
            << QByteArrayList{"!"} << QString()
            << announced + WriteAttempt(0) + WriteAttempt(1, "read") + WriteAttempts(1, 3) +
                   QStringList{"close"}
            << QStringList{"waiting write",
                           "announced",
                           "sector 0/3",
                           "sector 1/3",
                           "retried 1",
                           "sector 2/3",
                           "ended done 3/3 retries=1"};
        QTest::newRow("write failing at the second attempt")
            << false << 3 << TReplyScript{{1, TReply::Nothing()}, {2, TReply::Text("?")}} << 0
            << QString() << QByteArrayList{"!"} << QString()
            << announced + WriteAttempt(0) + WriteAttempt(1, "read") + WriteAttempt(1, "read ?") +
                   QStringList{"close"}
            << QStringList{"waiting write", "announced",
                           "sector 0/3",    "sector 1/3",
                           "retried 1",     "ended sector-failed 1/3 failed=1 retries=1"};
        // Stopped as sector 1's reply is read: sector 2 is not sent.
        QTest::newRow("write stopped between sectors")
            << false << 3 << TReplyScript{} << 11 << QString() << QByteArrayList{"!"} << QString()
            << announced + WriteAttempts(0, 2) + QStringList{"close"}
            << QStringList{"waiting write", "announced", "sector 0/3", "sector 1/3",
                           "ended stopped 2/3"};
        // The stop comes in with the window messages a read lets through before sector 0.
        QTest::newRow("read stopped before its first sector")
            << true << 3 << TReplyScript{} << 0 << QString() << QByteArrayList{"!"} << "stop queued"
            << announced + QStringList{"close"}
            << QStringList{"waiting read", "announced", "ended stopped 0/128"};
        QTest::newRow("write of a 512-sector program")
            << false << 512 << TReplyScript{} << 0 << QString() << QByteArrayList{"!"} << QString()
            << announced + WriteAttempts(0, 506) + QStringList{"close"}
            << QStringList{"waiting write", "announced"} + SectorEvents(0, 506, 506) +
                   QStringList{"ended done 506/506"};
        QTest::newRow("bursts that are no announcement are read and dropped")
            << false << 1 << TReplyScript{} << 0 << QString()
            << QByteArrayList{"!!!!", "abc", "ab!"} << QString()
            << setUp + QStringList{"read !!!!", "read abc", "read ab!"} + WriteAttempts(0, 1) +
                   QStringList{"close"}
            << QStringList{"waiting write", "announced", "sector 0/1", "ended done 1/1"};
        QTest::newRow("link error mid-transfer")
            << false << 3 << TReplyScript{} << 0 << "write 2" << QByteArrayList{"!"} << QString()
            << announced + WriteAttempt(0) + QStringList{"purge", "write W 1 throws", "close"}
            << QStringList{"waiting write", "announced", "sector 0/3", "sector 1/3",
                           "ended link-error 1/3" + LinkError};
        QTest::newRow("port that cannot open")
            << true << 3 << TReplyScript{} << 0 << "open 1" << QByteArrayList{} << QString()
            << QStringList{"close", "open 3 throws", "close"}
            << QStringList{"ended port-not-opened 0/0" + LinkError};
        QTest::newRow("stopped while waiting")
            << false << 3 << TReplyScript{} << 0 << QString() << QByteArrayList{} << "stop"
            << setUp + QStringList{"close"} << QStringList{"waiting write", "ended stopped 0/0"};
        QTest::newRow("given up waiting")
            << true << 3 << TReplyScript{} << 0 << QString() << QByteArrayList{} << "give-up"
            << setUp + QStringList{"close"}
            << QStringList{"waiting read", "ended no-announcement 0/0"};
        // The error goes to the general report; the run ends and the port is let go
        // instead of staying open for an announcement that cannot come.
        QTest::newRow("line fails as the announcement is read")
            << false << 3 << TReplyScript{} << 0 << "read 1" << QByteArrayList{"!"} << QString()
            << setUp + QStringList{"read throws", "close"}
            << QStringList{"waiting write", "ended link-error 0/0" + LinkError};
        QTest::newRow("line lost while waiting")
            << true << 3 << TReplyScript{} << 0 << QString() << QByteArrayList{} << "line-lost"
            << setUp + QStringList{"close"}
            << QStringList{"waiting read", "ended link-error 0/0 reason=hung up"};
    }
    void runMakesExactCallsAndTellsEventsInOrder() {
        QFETCH(bool, read);
        QFETCH(int, sectors);
        QFETCH(TReplyScript, script);
        QFETCH(int, stopAfterCalls);
        QFETCH(QString, failCall);
        QFETCH(QByteArrayList, bursts);
        QFETCH(QString, then);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, events);
        LoadPatternProgram(sectors);
        TRecordedRun r(script, failCall);
        r.stopAfterCalls = stopAfterCalls;
        // No capture of this file's own types: a unity build would warn of their linkage.
        r.view.onModal = [&link = r.link, &run = r.run, &bursts, &then] {
            if (then == QStringLiteral("stop queued"))
                QMetaObject::invokeMethod(
                    qApp, [&run] { run.Stop(); }, Qt::QueuedConnection);
            for (const QByteArray& burst : bursts)
                Announce(link, run, burst);
            if (then == QStringLiteral("stop"))
                run.Stop();
            else if (then == QStringLiteral("give-up"))
                run.GiveUpWaiting();
            else if (then == QStringLiteral("line-lost"))
                run.LineLost(QStringLiteral("hung up"));
        };

        if (read)
            r.run.StartRead();
        else
            r.run.StartWrite();

        QCOMPARE(LinkLines(r.log), calls);
        QCOMPARE(EventLines(r.log), events);
        QVERIFY(!r.run.TransferRunning());
        QVERIFY(!r.run.Waiting());
    }

    // The operator closed the progress window (Armed) and starts another run: the armed
    // one ends, stopped, before the port is set up again.
    void newRunEndsTheArmedOne() {
        LoadPatternProgram(2);
        TRecordedRun r(TReplyScript{}, QString());
        r.run.StartWrite();
        QVERIFY(r.run.Waiting());
        r.view.onModal = [&link = r.link, &run = r.run] { Announce(link, run, "!"); };
        r.run.StartRead();
        QCOMPARE(EventLines(r.log).mid(0, 4),
                 (QStringList{"waiting write", "ended stopped 0/0", "waiting read", "announced"}));
        QCOMPARE(EventLines(r.log).last(), QStringLiteral("ended done 128/128"));
        QCOMPARE(LinkLines(r.log).mid(0, 6),
                 (QStringList{"close", "open 3", "close", "close", "open 3", "read !"}));
    }

    // A start that reaches the run while it transfers (the main window's buttons are
    // disabled then, but a queued call may still come) leaves the port and the run alone.
    void startDuringTransferChangesNothing_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("startRead");
        QTest::newRow("read over a write") << false << true;
        QTest::newRow("write over a write") << false << false;
        QTest::newRow("read over a read") << true << true;
        QTest::newRow("write over a read") << true << false;
    }
    void startDuringTransferChangesNothing() {
        QFETCH(bool, read);
        QFETCH(bool, startRead);
        LoadPatternProgram(3);
        TRecordedRun r(TReplyScript{}, QString());
        r.view.onModal = [&link = r.link, &run = r.run] { Announce(link, run, "!"); };
        bool started = false;
        r.link.OnCall = [&link = r.link, &run = r.run, &started, startRead](const QString&) {
            if (link.calls != 9) // an exchange of sector 1
                return;
            started = true;
            if (startRead)
                run.StartRead();
            else
                run.StartWrite();
        };

        if (read)
            r.run.StartRead();
        else
            r.run.StartWrite();

        QVERIFY(started);
        const QStringList announced{"close", "open 3", "read !"};
        QCOMPARE(LinkLines(r.log), announced + (read ? ReadAttempts(0, 128) : WriteAttempts(0, 3)) +
                                       QStringList{"close"});
        QCOMPARE(EventLines(r.log).count(QStringLiteral("waiting read")) +
                     EventLines(r.log).count(QStringLiteral("waiting write")),
                 1);
        QCOMPARE(EventLines(r.log).last(),
                 read ? QStringLiteral("ended done 128/128") : QStringLiteral("ended done 3/3"));
    }

    void transferEndsWithStatusThenCloseThenIdleWindow_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<TReplyScript>("script");
        QTest::addColumn<int>("stopAfterCalls");
        QTest::addColumn<QString>("failCall");
        // The progress window was closed while waiting: the transfer runs hidden.
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QStringList>("end");

        const QString closed = QStringLiteral("close");
        const QString idle = QStringLiteral("view animation none");
        const QString closeOn = QStringLiteral("view close-button on");
        const QString written = QStringLiteral("view status Данные записаны");
        const QString writeError = QStringLiteral("view status Ошибка записи");
        const QString dataRead = QStringLiteral("view status Данные считаны");
        const QString readError = QStringLiteral("view status Ошибка считывания");
        const QString saveAsOff = QStringLiteral("view save-as off");
        const QString failure = "view failure " + LinkErrorText;
        QTest::newRow("write") << false << TReplyScript{} << 0 << QString() << false
                               << QStringList{written, closed, idle, closeOn,
                                              "event ended done 3/3"};
        QTest::newRow("read") << true << TReplyScript{} << 0 << QString() << false
                              << QStringList{dataRead, "view save-as on",         closed, idle,
                                             closeOn,  "event ended done 128/128"};
        QTest::newRow("write, sector failed twice")
            << false << TReplyScript{{1, TReply::Nothing()}, {2, TReply::Nothing()}} << 0
            << QString() << false
            << QStringList{writeError, closed, idle, closeOn,
                           "event ended sector-failed 1/3 failed=1 retries=1"};
        QTest::newRow("read, sector failed twice")
            << true << TReplyScript{{5, TReply::BadSum()}, {6, TReply::BadSum()}} << 0 << QString()
            << false
            << QStringList{readError, saveAsOff,
                           closed,    idle,
                           closeOn,   "event ended sector-failed 5/128 failed=5 retries=1"};
        QTest::newRow("write, link error mid-transfer")
            << false << TReplyScript{} << 0 << "write 2" << false
            << QStringList{writeError, closed,  idle,
                           closeOn,    failure, "event ended link-error 1/3" + LinkError};
        QTest::newRow("read, link error mid-transfer")
            << true << TReplyScript{} << 0 << "block 2" << false
            << QStringList{readError,
                           saveAsOff,
                           closed,
                           idle,
                           closeOn,
                           failure,
                           "event ended link-error 1/128" + LinkError};
        QTest::newRow("write, stopped")
            << false << TReplyScript{} << 11 << QString() << false
            << QStringList{writeError, closed, idle, closeOn, "event ended stopped 2/3"};
        QTest::newRow("read, stopped")
            << true << TReplyScript{} << 11 << QString() << false
            << QStringList{readError, saveAsOff, closed,
                           idle,      closeOn,   "event ended stopped 2/128"};
        QTest::newRow("write, window closed while waiting")
            << false << TReplyScript{} << 0 << QString() << true
            << QStringList{written, closed, idle, closeOn, "view busy off", "event ended done 3/3"};
    }
    void transferEndsWithStatusThenCloseThenIdleWindow() {
        QFETCH(bool, read);
        QFETCH(TReplyScript, script);
        QFETCH(int, stopAfterCalls);
        QFETCH(QString, failCall);
        QFETCH(bool, hidden);
        QFETCH(QStringList, end);
        LoadPatternProgram(3);
        TRecordedRun r(script, failCall);
        r.stopAfterCalls = stopAfterCalls;
        if (!hidden)
            r.view.onModal = [&link = r.link, &run = r.run] { Announce(link, run, "!"); };

        if (read)
            r.run.StartRead();
        else
            r.run.StartWrite();
        if (hidden) {
            QVERIFY(r.run.Waiting());
            Announce(r.link, r.run, "!");
        }

        QCOMPARE(EndOfRun(r.log), end);
        QCOMPARE(r.log.count(QStringLiteral("close")), 2); // at set-up and at the end
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestRunSequence test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runsequence.moc"
