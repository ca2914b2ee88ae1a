// What the start-up leaves for later must still be there when it is needed, and the
// start-up's shortcuts must leave nothing behind.

#include "platform/ProcessStats.h"
#include "tests/common/TestSupport.h"
#include "ui/Animate.h"
#include "ui/AppStyle.h"
#include "ui/Controls.h"
#include "ui/Pictures.h"
#include "ui/Startup.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "window/Application.h"
#include "window/StartupProbe.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QSet>
#include <QTimer>
#include <QtTest/QTest>

namespace {

bool ImagePluginsLoaded() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

} // namespace

class TestStartupWork : public QObject {
    Q_OBJECT
private slots:
    void clipFramesAreDrawnWhenAsked_data() {
        QTest::addColumn<int>("clip");
        QTest::addColumn<int>("frames");
        QTest::newRow("find computer") << int(aviFindComputer) << 12;
        QTest::newRow("find file") << int(aviFindFile) << 12;
        QTest::newRow("none") << int(aviNone) << 0;
    }
    void clipFramesAreDrawnWhenAsked() {
        QFETCH(int, clip);
        QFETCH(int, frames);
        const auto avi = TCommonAVI(clip);
        QCOMPARE(ClipFrameCount(avi), frames);
        QSet<QByteArray> distinct;
        for (int i = 0; i < frames; ++i) {
            const QImage frame = ClipFrame(avi, i).toImage();
            QCOMPARE(frame.size(), ClipFrameSize(avi));
            distinct.insert(
                QByteArray(reinterpret_cast<const char*>(frame.constBits()), frame.sizeInBytes()));
        }
        QCOMPARE(distinct.size(), frames); // every frame moves the glass
        QVERIFY(ClipFrame(avi, -1).isNull());
        QVERIFY(ClipFrame(avi, frames).isNull());

        // The control knows its clip's length and size before it draws a frame.
        TAnimate animate;
        animate.SetCommonAVI(aviFindFile);
        animate.SetCommonAVI(avi);
        QCOMPARE(animate.FrameCount(), frames);
        if (frames > 0)
            QCOMPARE(animate.size(), QSize(48, 45));
    }

    void picturesLoadWithoutImagePlugins() {
        if (ImagePluginsLoaded())
            QSKIP("an image plug-in was loaded before the test");
        for (const char* name : {"open", "saveas", "read", "verify", "help", "vendrik"}) {
            const QIcon icon = PictureIcon(QString::fromLatin1(name));
            QVERIFY2(!icon.isNull() && !icon.availableSizes().isEmpty(), name);
        }
        QVERIFY(PictureIcon(QStringLiteral("no-such-picture")).isNull());
        QVERIFY(!ImagePluginsLoaded());
    }

    // The segments' style sheet is applied at the first polish; a bar polished late must
    // look like one polished at once.
    void progressBarLooksTheSameWhenPolishedLate() {
        TProgressBar early;
        early.ensurePolished();
        QVERIFY(!early.styleSheet().isEmpty());
        TProgressBar late;
        QVERIFY(late.styleSheet().isEmpty()); // not shown yet: no style machinery
        for (TProgressBar* bar : {&early, &late}) {
            bar->resize(281, 16);
            bar->SetMax(10);
            bar->SetPosition(4);
        }
        QCOMPARE(late.grab().toImage(), early.grab().toImage());
        QVERIFY(!late.styleSheet().isEmpty());
    }

    void helpWindowTakesItsFontAndLeavesTheApplicationFont() {
        TempConfigHome config;
        MessageRecorder boxes;
        const QFont applicationFont = QGuiApplication::font();
        CreateWindows();
        QCOMPARE(QGuiApplication::font(), applicationFont);
        const QPlainTextEdit* memo = formHelp->Memo1;
        QCOMPARE(memo->document()->defaultFont().family(), memo->font().family());
        QCOMPARE(memo->document()->defaultFont().pixelSize(), memo->font().pixelSize());
        QCOMPARE(memo->toPlainText(), HelpText());
        DestroyWindows();
    }

    // Painting the main window, group box frames included, must not need them either.
    void mainWindowPaintsWithoutImagePlugins() {
        if (ImagePluginsLoaded())
            QSKIP("an image plug-in was loaded before the test");
        TempConfigHome config;
        MessageRecorder boxes;
        InstallVendrikStyle();
        CreateWindows();
        const QImage picture = formMain->grab().toImage();
        QVERIFY(!picture.isNull());
        QVERIFY(!ImagePluginsLoaded());
        DestroyWindows();
    }

    void probeReportsFirstExposureThenQuits() {
        qputenv("STARTUP_PROBE", "1");
        QWidget window;
        window.resize(100, 80);
        WatchFirstExposure(&window);
        window.show();
        bool timedOut = false;
        QTimer::singleShot(10000, qApp, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QApplication::exec();
        qunsetenv("STARTUP_PROBE");
        QVERIFY(!timedOut);
        QVERIFY(PeakResidentKiB() > 0);
        const long long thread = ThreadCpuMicroseconds();
        QVERIFY(thread > 0 && thread <= ProcessCpuMicroseconds());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TempConfigHome settings;
    TestStartupWork test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startupwork.moc"
