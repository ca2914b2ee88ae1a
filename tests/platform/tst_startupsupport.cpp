// The platform pieces the start-up probe uses: the process's own memory and processor
// figures.

#include "platform/ProcessStats.h"

#include <QCoreApplication>
#include <QtTest/QTest>

#include <memory>

class TestStartupSupport : public QObject {
    Q_OBJECT
private slots:
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
    QCoreApplication app(argc, argv);
    TestStartupSupport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startupsupport.moc"
