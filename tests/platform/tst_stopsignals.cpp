// Stop signals as a descriptor: each of Ctrl+C, SIGTERM and SIGHUP is caught while the
// handler is installed, and the handler that was there before is back afterwards.
#include "platform/StopSignals.h"

#include <QtTest/QTest>

#include <csignal>

namespace {

volatile sig_atomic_t earlierHandlerCalls = 0;

extern "C" void EarlierHandler(int) {
    earlierHandlerCalls = earlierHandlerCalls + 1;
}

} // namespace

class TestStopSignals : public QObject {
    Q_OBJECT
private slots:
    void caughtWhileInstalledThenHandedBack_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP, a closed terminal") << int(SIGHUP);
    }

    void caughtWhileInstalledThenHandedBack() {
        QFETCH(int, signal);
        void (*const before)(int) = std::signal(signal, EarlierHandler);
        earlierHandlerCalls = 0;
        {
            TStopSignals stop;
            QVERIFY(stop.Install());
            QVERIFY(!stop.Take());
            QCOMPARE(std::raise(signal), 0);
            // The handler has run by the time raise returns.
            QVERIFY(stop.Take());
            QVERIFY(!stop.Take());
            QCOMPARE(int(earlierHandlerCalls), 0);
        }
        QCOMPARE(std::raise(signal), 0);
        QCOMPARE(int(earlierHandlerCalls), 1);
        std::signal(signal, before);
    }
};

QTEST_GUILESS_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
