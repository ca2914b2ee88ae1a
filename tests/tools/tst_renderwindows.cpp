// The progress window's pictures show only what device runs show: each (mode line,
// status line) pair the renderer pictures is one that device runs produce through their
// view, and each run is pictured waiting, transferring and with its result.

#include "programmer/DeviceRun.h"
#include "tests/common/ProgramWindows.h"
#include "tests/programmer/SimLink.h"
#include "tools/render_windows/RunPictures.h"
#include "window/Application.h"

#include <QSet>
#include <QtTest/QTest>

namespace {

using TLinePair = std::pair<QString, QString>;

// Takes the pair on view whenever the run sets the status line. The "modal" window is
// a wait that ends when the run has finished, as the operator's Close would.
struct TPairRecorder : TDeviceRunView {
    QString mode;
    QList<TLinePair> pairs;
    TRunAnimation clip = raNone;
    bool closeEnabled = true;
    bool shown = false;
    bool timedOut = false;

    int SelectedPortIndex() const override { return 0; }
    bool WriteWithCheck() const override { return false; }
    void SetModeText(const QString& Text) override { mode = Text; }
    void SetAnimation(TRunAnimation Animation) override { clip = Animation; }
    void SetCloseEnabled(bool Enabled) override { closeEnabled = Enabled; }
    void CentreProgressWindow() override {}
    bool ProgressWindowShown() const override { return shown; }
    void ShowNotice(const TNotice& Notice) override { ShowNoticeAsBox(Notice); }
    void SetMainWindowBusy(bool) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetStatusText(const QString& Text) override { pairs.append({mode, Text}); }
    void SetSaveAsEnabled(bool) override {}
    void ShowProgressModal() override {
        shown = true;
        // Past the waiting pair, a blank clip with Close enabled is the end of the run.
        timedOut = !QTest::qWaitFor(
            [this] { return pairs.size() > 1 && clip == raNone && closeEnabled; }, 60000);
        shown = false;
    }
};

QString Listed(const QList<TLinePair>& pairs) {
    QStringList lines;
    for (const TLinePair& p : pairs)
        lines << p.first + " / " + p.second;
    return lines.join(u"; ");
}

// The pairs one device run shows, through the real port to a simulated device of its
// own; empty when the run did not end.
QList<TLinePair> RunThroughView(const TPicturedRun& run) {
    sim::SimConfig config;
    config.switchOn = sim::SwitchOn::OnOpen;
    config.switchOnDelayMs = 100;
    if (!run.fault.isEmpty())
        config.faults.rules.push_back(*sim::ParseFaultRule(run.fault, nullptr));
    SimLink link(config);
    if (!link.started)
        return {};
    TPairRecorder view;
    TDeviceRun deviceRun(link.line, view);
    link.port.OnRxChar = [&](QObject*, int) { deviceRun.Received(); };
    if (run.read)
        deviceRun.StartRead();
    else
        deviceRun.StartWrite();
    return view.timedOut ? QList<TLinePair>() : view.pairs;
}

} // namespace

class TestRenderWindows : public QObject {
    Q_OBJECT
    QList<TRunPicture> pictures_;
    QList<QList<TLinePair>> runs_; // the pairs each of PicturedRuns showed, in order
    QList<TLinePair> shown_;       // every pair any of them showed

private slots:
    void initTestCase() {
        TempConfigHome home;
        QTemporaryDir files;
        const TProgramWindows windows = StartProgram();
        QVERIFY(LoadProgramThroughOpen(files.filePath("demo.bin"), QByteArray(3 * 256, '\x5a')));
        QString error;
        QVERIFY2(PictureDeviceRuns(pictures_, &error), qPrintable(error));
        for (const TPicturedRun& run : PicturedRuns) {
            runs_.append(RunThroughView(run));
            QVERIFY2(!runs_.last().isEmpty(), qPrintable(run.name));
            shown_ += runs_.last();
        }
    }

    void picturedPairsAreOnesDeviceRunsProduce_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < PicturedRuns.size(); ++i)
            QTest::newRow(qPrintable(PicturedRuns[i].name)) << i;
    }
    void picturedPairsAreOnesDeviceRunsProduce() {
        QFETCH(int, index);
        const TPicturedRun& run = PicturedRuns[index];
        QList<TLinePair> pictured;
        for (const TRunPicture& p : pictures_) {
            if (p.run != run.name)
                continue;
            QCOMPARE(p.image.size(), QSize(298, 101));
            pictured.append({p.mode, p.status});
        }
        // On a busy machine a late reply fails a sector, so a run meant to end well may
        // end with an error: a pair no run has shown yet gets two more runs to show it. A
        // pair no run shows (one mode's line with another mode's status) never turns up.
        for (const TLinePair& p : pictured) {
            for (int again = 0; !shown_.contains(p) && again < 2; ++again)
                shown_ += RunThroughView(run);
            QVERIFY2(shown_.contains(p), qPrintable("never shown by a run: " + Listed({p}) +
                                                    "; shown: " + Listed(shown_)));
        }
        // Waiting, transferring and the result, each pictured once.
        QCOMPARE(pictured.size(), 3);
        QCOMPARE(pictured[0], runs_[index][0]);
        QCOMPARE(pictured[1], runs_[index][1]);
        const QStringList results{TextDataWritten, TextWriteError, TextDataRead, TextReadError};
        QVERIFY2(results.contains(pictured[2].second), qPrintable(Listed(pictured)));
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestRenderWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_renderwindows.moc"
