// The progress window's pictures show only what device runs show: each (mode line,
// status line) pair the renderer pictures is one a device run produces through its
// view, and each run's pictures end on that run's own result.

#include "app/Application.h"
#include "programmer/DeviceRun.h"
#include "tests/common/ProgramWindows.h"
#include "tests/programmer/SimLink.h"
#include "tools/render_windows/RunPictures.h"

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

} // namespace

class TestRenderWindows : public QObject {
    Q_OBJECT
    QList<TRunPicture> pictures_;

private slots:
    void initTestCase() {
        TempConfigHome home;
        QTemporaryDir files;
        const TProgramWindows windows = StartProgram();
        QVERIFY(LoadProgramThroughOpen(files.filePath("demo.bin"), QByteArray(3 * 256, '\x5a')));
        QString error;
        QVERIFY2(PictureDeviceRuns(pictures_, &error), qPrintable(error));
    }

    void picturedPairsAreOnesTheRunProduces_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < PicturedRuns.size(); ++i)
            QTest::newRow(qPrintable(PicturedRuns[i].name)) << i;
    }
    void picturedPairsAreOnesTheRunProduces() {
        QFETCH(int, index);
        const TPicturedRun& run = PicturedRuns[index];
        sim::SimConfig config;
        config.switchOn = sim::SwitchOn::OnOpen;
        config.switchOnDelayMs = 100;
        if (!run.fault.isEmpty())
            config.faults.rules.push_back(*sim::ParseFaultRule(run.fault, nullptr));
        SimLink link(config);
        QVERIFY(link.started);
        TPairRecorder view;
        TDeviceRun deviceRun(link.port, view);
        link.port.OnRxChar = [&](QObject*, int) { deviceRun.Received(); };
        if (run.read)
            deviceRun.StartRead();
        else
            deviceRun.StartWrite();
        QVERIFY(!view.timedOut);

        QList<TLinePair> pictured;
        for (const TRunPicture& p : pictures_) {
            if (p.run != run.name)
                continue;
            QCOMPARE(p.image.size(), QSize(298, 101));
            pictured.append({p.mode, p.status});
        }
        const QSet<TLinePair> produced(view.pairs.begin(), view.pairs.end());
        for (const TLinePair& p : pictured)
            QVERIFY2(produced.contains(p), qPrintable("never shown by a run: " + Listed({p})));
        // The pictures end on the run's result and miss none of its states.
        QVERIFY(!pictured.isEmpty());
        QCOMPARE(pictured.last(), view.pairs.last());
        QVERIFY2(QSet<TLinePair>(pictured.begin(), pictured.end()) == produced,
                 qPrintable("pictured " + Listed(pictured) + ", run " + Listed(view.pairs)));
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestRenderWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_renderwindows.moc"
