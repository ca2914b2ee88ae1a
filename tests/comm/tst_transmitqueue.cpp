// The transmit queue on its own: its bound, its order, the purge handshake, closing, and
// a writer thread that sleeps whenever it finds the queue empty.
#include "comm/TransmitQueue.h"

#include <QtTest/QTest>

#include <atomic>
#include <optional>
#include <thread>

namespace {
QByteArray Queued(TTransmitQueue& Queue) {
    const TTransmitQueue::TTurn turn = Queue.Hold();
    return QByteArray(turn.Data(), turn.Size());
}

// A push on a thread of its own, for pushes that wait for room.
struct TPushOnThread {
    TPushOnThread(TTransmitQueue& Queue, const QByteArray& Bytes, int Limit, int TimeoutMs)
        : thread([=, this, &Queue] {
              outcome = Queue.Push(Bytes.constData(), int(Bytes.size()), Limit, TimeoutMs);
              done = true;
          }) {}
    std::atomic<bool> done{false};
    std::atomic<TPushOutcome> outcome{TPushOutcome::NoRoom};
    std::jthread thread;
};

// Lets a thread get as far as it can (into a wait) without assuming how long that takes:
// the outcome must not depend on it.
void LetRun() {
    for (int i = 0; i < 20; ++i)
        std::this_thread::yield();
}
} // namespace

class TestTransmitQueue : public QObject {
    Q_OBJECT
private slots:
    void pushIsHeldToLimitAndCapacity_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("waiting");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("queued");
        QTest::newRow("fills exactly") << 8 << 8 << 0 << 8 << true;
        QTest::newRow("adds to what waits") << 8 << 8 << 3 << 5 << true;
        QTest::newRow("one over the limit") << 8 << 8 << 0 << 9 << false;
        QTest::newRow("limit lowered below capacity") << 8 << 4 << 2 << 3 << false;
        QTest::newRow("limit raised beyond capacity") << 8 << 100 << 4 << 5 << false;
    }
    void pushIsHeldToLimitAndCapacity() {
        QFETCH(int, capacity);
        QFETCH(int, limit);
        QFETCH(int, waiting);
        QFETCH(int, count);
        QFETCH(bool, queued);
        TTransmitQueue q(capacity);
        QVERIFY(q.IsValid());
        const QByteArray before(waiting, 'a'), block(count, 'b');
        if (waiting > 0)
            QCOMPARE(q.Push(before.constData(), waiting, capacity, 0), TPushOutcome::Queued);
        QCOMPARE(q.Push(block.constData(), count, limit, 0),
                 queued ? TPushOutcome::Queued : TPushOutcome::NoRoom);
        QCOMPARE(Queued(q), queued ? before + block : before);
        QCOMPARE(q.DataReady()->IsSet(), q.Size() > 0);
    }

    void takeAndConsumeKeepOrderAndReportDrained() {
        TTransmitQueue q(8);
        QVERIFY(!q.Take().Closed());
        QCOMPARE(q.Push("abcdef", 6, 8, 0), TPushOutcome::Queued);
        QVERIFY(!q.Take().Consume(2));
        QCOMPARE(Queued(q), QByteArray("cdef"));
        QCOMPARE(q.Push("gh", 2, 8, 0), TPushOutcome::Queued);
        QCOMPARE(Queued(q), QByteArray("cdefgh"));
        QVERIFY(q.DataReady()->IsSet());
        // A count from before a purge may exceed what is left: it empties the queue.
        QVERIFY(q.Take().Consume(20));
        QCOMPARE(q.Size(), 0);
        QVERIFY(!q.DataReady()->IsSet());
    }

    void clearEmptiesOnlyOnceAcknowledged_data() {
        QTest::addColumn<QString>("acknowledge");
        QTest::addColumn<bool>("callerServesWriter");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("never") << "never" << false << false;
        QTest::newRow("by the writer thread") << "thread" << false << true;
        QTest::newRow("earlier, for an earlier purge") << "before" << false << true;
        // The writer waits for the purging thread: it cannot answer and holds no turn.
        QTest::newRow("writer away, waiting for the caller") << "away" << true << true;
        // Going away, the writer answers a purge already waiting, whoever waits.
        QTest::newRow("writer goes away during the purge") << "away later" << false << true;
        // Waiting for some other thread, the writer may take a turn at any time.
        QTest::newRow("writer away, waiting for another thread") << "away" << false << false;
    }
    void clearEmptiesOnlyOnceAcknowledged() {
        QFETCH(QString, acknowledge);
        QFETCH(bool, callerServesWriter);
        QFETCH(bool, cleared);
        TTransmitQueue q(8);
        QCOMPARE(q.Push("abc", 3, 8, 0), TPushOutcome::Queued);
        if (acknowledge == "before")
            q.AcknowledgeClear();
        if (acknowledge == "away")
            q.WriterAway(true);
        std::jthread writer;
        if (acknowledge == "thread")
            writer = std::jthread([&] {
                if (WaitForEvents({q.ClearRequest()}, 10000).IsEvent(0))
                    q.AcknowledgeClear();
            });
        if (acknowledge == "away later")
            writer = std::jthread([&] {
                if (WaitForEvents({q.ClearRequest()}, 10000).IsEvent(0))
                    q.WriterAway(true);
            });
        QCOMPARE(q.Clear(callerServesWriter, cleared ? 10000 : 50),
                 cleared ? TClearOutcome::Cleared : TClearOutcome::NotAcknowledged);
        QCOMPARE(Queued(q), cleared ? QByteArray() : QByteArray("abc"));
        QCOMPARE(q.DataReady()->IsSet(), !cleared);
        // A request that was answered is no longer pending.
        QCOMPARE(q.ClearRequest()->IsSet(), !cleared || acknowledge == "before");
        // Once answered, later purges need no answer, the writer back or not.
        q.WriterAway(false);
        QCOMPARE(q.Push("d", 1, 8, 0), TPushOutcome::Queued);
        QCOMPARE(q.Clear(false, 0) == TClearOutcome::Cleared, cleared);
    }

    void pushWaitingForRoomGetsInWhenRoomIsMade_data() {
        QTest::addColumn<bool>("byPurge");
        QTest::newRow("writer consumed") << false;
        QTest::newRow("purge emptied the queue") << true;
    }
    void pushWaitingForRoomGetsInWhenRoomIsMade() {
        QFETCH(bool, byPurge);
        TTransmitQueue q(4);
        QCOMPARE(q.Push("abcd", 4, 4, 0), TPushOutcome::Queued);
        TPushOnThread push(q, "ef", 4, 60000);
        LetRun();
        if (byPurge) {
            q.AcknowledgeClear();
            QCOMPARE(q.Clear(false), TClearOutcome::Cleared);
        } else {
            q.Take().Consume(3);
        }
        QTRY_VERIFY(push.done);
        QCOMPARE(push.outcome.load(), TPushOutcome::Queued);
        QCOMPARE(Queued(q), byPurge ? QByteArray("ef") : QByteArray("def"));
    }

    void closeRefusesPushesEndsWaitsAndTurns_data() {
        QTest::addColumn<bool>("pushFirst");
        QTest::newRow("push waiting for room when closed") << true;
        QTest::newRow("push after close") << false;
    }
    void closeRefusesPushesEndsWaitsAndTurns() {
        QFETCH(bool, pushFirst);
        TTransmitQueue q(4);
        QCOMPARE(q.Push("abcd", 4, 4, 0), TPushOutcome::Queued);
        // Far longer than the test may wait: only the close can end it in time.
        constexpr int TimeoutMs = 600000;
        std::optional<TPushOnThread> push;
        if (pushFirst) {
            push.emplace(q, "e", 4, TimeoutMs);
            LetRun();
        }
        QVERIFY(!q.Closing()->IsSet());
        q.Close();
        if (!pushFirst)
            push.emplace(q, "e", 4, TimeoutMs);
        QTRY_VERIFY(push->done);
        QCOMPARE(push->outcome.load(), TPushOutcome::Closed);
        QVERIFY(q.Closing()->IsSet());
        QVERIFY(q.Take().Closed());
        QVERIFY(q.Hold().Closed());
        QCOMPARE(Queued(q), QByteArray("abcd"));
    }

    void closeWaitsForTheTurnInProgress() {
        TTransmitQueue q(4);
        std::atomic<bool> closed{false};
        std::optional<TTransmitQueue::TTurn> turn(q.Hold());
        std::jthread closer([&] {
            q.Close();
            closed = true;
        });
        // The turn sees the close begin, the close ends only with the turn.
        QTRY_VERIFY(q.Closing()->IsSet());
        QVERIFY(turn->Closed());
        LetRun();
        QVERIFY(!closed);
        turn.reset();
        QTRY_VERIFY(closed);
    }

    // The writer waits on data-ready whenever it finds the queue empty: a block pushed
    // just as it looks must still wake it, or the bytes would stay queued for good.
    void writerThatSleepsWhenEmptySendsEveryByteInOrder_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("blockSize");
        QTest::newRow("roomy queue") << 4096 << 7;
        QTest::newRow("queue smaller than the traffic") << 16 << 5;
        QTest::newRow("one block fills it") << 9 << 9;
    }
    void writerThatSleepsWhenEmptySendsEveryByteInOrder() {
        QFETCH(int, capacity);
        QFETCH(int, blockSize);
        constexpr int Blocks = 3000;
        TTransmitQueue q(capacity);
        QByteArray sent;
        std::atomic<int> sentSize{0};
        std::jthread writer([&] {
            for (;;) {
                const TEventWaitResult woken = WaitForEvents({q.Closing(), q.DataReady()}, -1);
                if (!woken.IsEvent(1))
                    return;
                TTransmitQueue::TTurn turn = q.Take();
                if (turn.Closed())
                    return;
                // Takes a part at a time, so pushes also meet a queue that is not empty.
                const int n = std::min(turn.Size(), 3);
                sent.append(turn.Data(), n);
                turn.Consume(n);
                sentSize = int(sent.size());
            }
        });
        QByteArray expected;
        for (int i = 0; i < Blocks; ++i) {
            const QByteArray block(blockSize, char(i));
            QCOMPARE(q.Push(block.constData(), blockSize, capacity, 10000), TPushOutcome::Queued);
            expected += block;
        }
        QTRY_COMPARE_WITH_TIMEOUT(sentSize.load(), int(expected.size()), 10000);
        q.Close();
        writer.join();
        QCOMPARE(sent, expected);
        QCOMPARE(q.Size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTransmitQueue)
#include "tst_transmitqueue.moc"
