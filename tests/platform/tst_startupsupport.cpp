// The platform pieces the start-up uses: reading the font configuration ahead, and the
// process's own memory and processor figures.

#include "app/Application.h"
#include "platform/FontConfigWarmup.h"
#include "platform/ProcessStats.h"

#include <QFontDatabase>
#include <QtTest/QTest>

#include <memory>

class TestStartupSupport : public QObject {
    Q_OBJECT
private slots:
    void fontsAreFoundAfterTheWarmup() {
        // main() started a warm-up before the application object, as the program does.
        QVERIFY(QFontDatabase::families().contains(QStringLiteral("Liberation Sans")));
    }

    void warmupLeftUnwaitedIsJoinedOnDestruction() {
        auto warmup = std::make_unique<TFontConfigWarmup>();
        warmup.reset(); // must not leave a thread running or abort
        TFontConfigWarmup waited;
        waited.Wait();
        waited.Wait(); // a second wait returns at once
    }

    void peakMemoryFollowsWhatIsTouched() {
        const long long before = PeakResidentKiB();
        QVERIFY(before > 0);
        constexpr size_t bytes = 32u << 20;
        std::unique_ptr<char[]> block(new char[bytes]);
        for (size_t i = 0; i < bytes; i += 4096)
            block[i] = char(i);
        QVERIFY(PeakResidentKiB() >= before + (28 << 10));
        QVERIFY(block[4096] == char(4096));
    }

    void processorTimeCountsThisThreadsWork() {
        // The process clock is read first: time charged between the two reads then
        // counts for the process as well.
        const long long process0 = ProcessCpuMicroseconds();
        const long long thread0 = ThreadCpuMicroseconds();
        volatile unsigned sink = 0;
        while (ThreadCpuMicroseconds() - thread0 < 20000)
            for (unsigned i = 0; i < 100000; ++i)
                sink = sink + i;
        const long long processSpent = ProcessCpuMicroseconds() - process0;
        QVERIFY2(processSpent >= 20000, qPrintable(QString::number(processSpent)));
        QVERIFY(ThreadCpuMicroseconds() <= ProcessCpuMicroseconds());
    }
};

int main(int argc, char** argv) {
    TFontConfigWarmup fonts;
    TApplication app(argc, argv);
    fonts.Wait();
    TestStartupSupport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startupsupport.moc"
