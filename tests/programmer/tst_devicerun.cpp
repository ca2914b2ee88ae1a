// Device runs (port set-up, announcement, transfer, end state) through the real port to
// the simulated device; the windows are replaced by a recording view.

#include "base/CoreApplication.h"
#include "base/ErrorReport.h"
#include "base/ProgramError.h"
#include "programmer/DeviceRun.h"
#include "programmer/ProgramImage.h"
#include "tests/programmer/SimLink.h"

#include <QEventLoop>
#include <QtTest/QTest>
#include <algorithm>

namespace {

const QString Written = QStringLiteral("Данные записаны");
const QString WriteFailed = QStringLiteral("Ошибка записи");

// Records what the run shows. The "modal" progress window is an event loop that ends
// once the run has finished (as the operator's Close would), or after a watchdog.
struct RecordingView : TDeviceRunView {
    int portIndex = 0;
    bool check = false;
    QString mode, status;
    QList<TRunAnimation> animations;
    QList<bool> closeEnabled;
    QList<bool> busy;
    QList<int> positions;
    int rangeMax = -1;
    int saveAs = -1;
    int shows = 0;
    bool shown = false;
    bool closeButton = true;
    bool watchdogFired = false;
    std::function<void(int)> onPosition;

    int SelectedPortIndex() const override { return portIndex; }
    bool WriteWithCheck() const override { return check; }
    void SetModeText(const QString& Text) override { mode = Text; }
    void SetAnimation(TRunAnimation a) override { animations.append(a); }
    void SetCloseEnabled(bool e) override {
        closeButton = e;
        closeEnabled.append(e);
    }
    void CentreProgressWindow() override {}
    bool ProgressWindowShown() const override { return shown; }
    void ShowNotice(const TNotice& Notice) override { ShowNoticeAsBox(Notice); }
    void ReportFailure(std::exception_ptr Error) override { ReportException(Error); }
    void SetMainWindowBusy(bool b) override { busy.append(b); }
    void SetProgressRange(int, int Max) override { rangeMax = Max; }
    void SetProgressPosition(int p) override {
        positions.append(p);
        if (onPosition)
            onPosition(p);
    }
    void SetStatusText(const QString& Text) override { status = Text; }
    void SetSaveAsEnabled(bool e) override { saveAs = e ? 1 : 0; }
    void ShowProgressModal() override {
        ++shows;
        shown = true;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const bool finished = closeButton && animations.value(animations.size() - 1) == raNone;
            if (finished)
                loop.quit();
        });
        QTimer::singleShot(15000, &loop, [&] {
            watchdogFired = true;
            loop.quit();
        });
        poll.start(10);
        loop.exec();
        shown = false;
    }
};

void LoadProgram(int sectors) {
    std::fill(std::begin(ProgramImage), std::end(ProgramImage), quint8(0xFF));
    for (int i = 0; i < sectors * 256; ++i)
        ProgramImage[size_t(i)] = quint8(i ^ (i >> 8));
    ProgramSize = sectors * 256;
    SectorCount = sectors;
    ProgramLoaded = true;
}

sim::SimConfig OnOpen(const QByteArray& announcement = "!", const QStringList& faults = {}) {
    sim::SimConfig c;
    c.switchOn = sim::SwitchOn::OnOpen;
    c.switchOnDelayMs = 100;
    c.announcement = announcement;
    for (const QString& r : faults)
        c.faults.rules.push_back(*sim::ParseFaultRule(r, nullptr));
    return c;
}

} // namespace

class TestDeviceRun : public QObject {
    Q_OBJECT
private slots:
    void init() { OperationMode = 0; }

    void writeRunGoesThroughItsStatesAndCanRunAgain_data() {
        QTest::addColumn<bool>("check");
        QTest::addColumn<int>("mode");
        QTest::newRow("write") << false << 2;
        QTest::newRow("write with check") << true << 3;
    }
    void writeRunGoesThroughItsStatesAndCanRunAgain() {
        QFETCH(bool, check);
        QFETCH(int, mode);
        LoadProgram(2);
        SimLink link(OnOpen());
        RecordingView view;
        view.check = check;
        TDeviceRun run(link.line, view);
        link.port.OnRxChar = [&](QObject*, int) { run.Received(); };
        for (int round = 0; round < 2; ++round) {
            view.animations.clear();
            view.closeEnabled.clear();
            view.positions.clear();
            run.StartWrite();
            QVERIFY(!view.watchdogFired);
            QCOMPARE(OperationMode, mode);
            QCOMPARE(view.mode, QStringLiteral("Режим: Запись данных"));
            QCOMPARE(view.status, Written);
            QCOMPARE(view.animations, (QList<TRunAnimation>{raFindComputer, raFindFile, raNone}));
            QCOMPARE(view.closeEnabled, (QList<bool>{false, true}));
            QCOMPARE(view.positions, (QList<int>{0, 1, 2}));
            QCOMPARE(view.rangeMax, 2);
            QVERIFY(view.busy.isEmpty()); // the window was up: nothing to lock
            QVERIFY(!link.port.IsOpen());
        }
        QCOMPARE(link.device.Stats().writeFrames, 4);
        QCOMPARE(link.device.Memory().left(512),
                 QByteArray(reinterpret_cast<const char*>(&ProgramImage[0]), 512));
    }

    void writeWithoutProgramWarnsAndLeavesPortAlone() {
        ProgramLoaded = false;
        SimLink link(OnOpen());
        link.port.Open();
        RecordingView view;
        TDeviceRun run(link.line, view);
        MessageRecorder boxes;
        run.StartWrite();
        QCOMPARE_ONE_BOX(boxes, QStringLiteral("Программа не загружена"),
                         QStringLiteral("Программатор"), TMessageIcon::Warning);
        QCOMPARE(view.shows, 0);
        QVERIFY(link.port.IsOpen());
        QTest::qWait(100); // the device sees openings through its own thread
        QCOMPARE(link.device.Stats().opens, 1);
    }

    void portThatCannotOpenIsReportedWithoutProgressWindow_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("held");
        QTest::newRow("no port selected") << -1 << false;
        QTest::newRow("port held by another") << 0 << true;
    }
    void portThatCannotOpenIsReportedWithoutProgressWindow() {
        QFETCH(int, index);
        QFETCH(bool, held);
        SimLink link(OnOpen());
        TVaComm other;
        other.SetDeviceName(QStringLiteral("COM%d"));
        other.SetPortNum(1);
        if (held)
            other.Open();
        RecordingView view;
        view.portIndex = index;
        TDeviceRun run(link.line, view);
        MessageRecorder boxes;
        run.StartRead();
        QCOMPARE_ONE_BOX(boxes, QStringLiteral("Не могу открыть порт"), QStringLiteral("Ошибка"),
                         TMessageIcon::Error);
        QCOMPARE(view.shows, 0);
        QCOMPARE(OperationMode, 0);
        QVERIFY(!link.port.IsOpen());
        other.Close();
    }

    void errorEscapingTransferReleasesPortAndIsReported_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("status");
        QTest::newRow("write") << false << WriteFailed;
        QTest::newRow("read") << true << QStringLiteral("Ошибка считывания");
    }
    void errorEscapingTransferReleasesPortAndIsReported() {
        QFETCH(bool, read);
        QFETCH(QString, status);
        LoadProgram(4);
        SimLink link(OnOpen());
        RecordingView view;
        TDeviceRun run(link.line, view);
        link.port.OnRxChar = [&](QObject*, int) { run.Received(); };
        view.onPosition = [](int p) {
            if (p == 2)
                throw EProgramError(QStringLiteral("Read error (5), Input/output error"));
        };
        SetApplicationTitle(QStringLiteral("Vendrik"));
        MessageRecorder boxes;
        DeviceImageValid = true;
        view.saveAs = 1;
        if (read)
            run.StartRead();
        else
            run.StartWrite();
        QVERIFY(!view.watchdogFired); // the window could be closed
        QCOMPARE(view.status, status);
        QVERIFY(!link.port.IsOpen());
        QCOMPARE(view.animations.last(), raNone);
        QCOMPARE(view.closeEnabled.last(), true);
        QCOMPARE_ONE_BOX(boxes, QStringLiteral("Read error (5), Input/output error."),
                         QStringLiteral("Vendrik"), TMessageIcon::Error);
        if (read) {
            QVERIFY(!DeviceImageValid);
            QCOMPARE(view.saveAs, 0);
        }
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestDeviceRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devicerun.moc"
