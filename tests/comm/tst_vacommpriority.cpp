// The priorities the link's two threads really run at, read from the kernel, for a
// process that may raise priorities freely, one limited by RLIMIT_NICE and one that may
// not raise them at all (the last two run as child processes of this test).
#include "base/CoreApplication.h"
#include "tests/comm/CommTestHelpers.h"

#include <QFile>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>

namespace {
const char* const LimitVariable = "VENDRIK_TEST_NICE_LIMIT";

// What the process may do: which column of expectations applies.
enum class Right { Full, ToMinus5, None, Other };

bool HasCapSysNice() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> CAP_SYS_NICE) & 1;
    return false;
}

Right RightToRaise() {
    rlimit limit{};
    getrlimit(RLIMIT_NICE, &limit);
    if (HasCapSysNice() || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 40)
        return Right::Full;
    if (limit.rlim_cur == 25)
        return Right::ToMinus5;
    if (limit.rlim_cur <= 20)
        return Right::None;
    return Right::Other;
}

// Nice value of the link's thread called Name (field 19 of its stat line), or 99 while
// there is no such thread.
int NiceOf(const QByteArray& Name) {
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& tid : tasks) {
        QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (open < 0 || close < 0 || stat.mid(open + 1, close - open - 1) != Name)
            continue;
        // Fields from the third (state) on follow the name.
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        return fields.size() > 16 ? fields[16].toInt() : 99;
    }
    return 99;
}

// Expected nice values of one thread in each situation.
struct Expected {
    int full, toMinus5, none;
    int in(Right r) const {
        return r == Right::Full ? full : r == Right::ToMinus5 ? toMinus5 : none;
    }
};
} // namespace
Q_DECLARE_METATYPE(Expected)

class TestVaCommPriority : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        VaCommTesting::SetClosePause(0);
        if (getpriority(PRIO_PROCESS, 0) != 0)
            QSKIP("the test runs with a nice value other than 0");
        if (RightToRaise() == Right::Other)
            QSKIP("RLIMIT_NICE allows neither none, nor -5, nor every value");
    }
    void cleanup() { QVERIFY(WaitForLinkThreads()); }

    void threadsRunAtTheirPriorities_data() {
        QTest::addColumn<TThreadPriority>("eventPriority");
        QTest::addColumn<TThreadPriority>("writePriority");
        QTest::addColumn<Expected>("eventNice");
        QTest::addColumn<Expected>("writeNice");
        // Below normal only where it can be undone; above normal as far as allowed.
        QTest::newRow("the program's settings")
            << tpNormal << tpHighest << Expected{0, 0, 0} << Expected{-10, -5, 0};
        QTest::newRow("time-critical, lower")
            << tpTimeCritical << tpLower << Expected{-20, -5, 0} << Expected{5, 5, 0};
        QTest::newRow("idle, higher")
            << tpIdle << tpHigher << Expected{19, 19, 0} << Expected{-5, -5, 0};
        QTest::newRow("lowest, normal")
            << tpLowest << tpNormal << Expected{10, 10, 0} << Expected{0, 0, 0};
    }
    void threadsRunAtTheirPriorities() {
        QFETCH(TThreadPriority, eventPriority);
        QFETCH(TThreadPriority, writePriority);
        QFETCH(Expected, eventNice);
        QFETCH(Expected, writeNice);
        const Right right = RightToRaise();
        PortOnPty p;
        p.port.SetEventPriority(eventPriority);
        p.port.SetWritePriority(writePriority);
        p.port.Open();
        QTRY_COMPARE(NiceOf("comm-event"), eventNice.in(right));
        QTRY_COMPARE(NiceOf("comm-write"), writeNice.in(right));
        // The user-interface thread is left as it was.
        QCOMPARE(getpriority(PRIO_PROCESS, 0), 0);
        p.port.Close();
    }

    void changesWhileOpenKeepTheRule() {
        const Right right = RightToRaise();
        PortOnPty p;
        p.port.Open();
        QTRY_COMPARE(NiceOf("comm-write"), Expected({-10, -5, 0}).in(right));
        const struct {
            bool write;
            TThreadPriority priority;
            Expected nice;
        } steps[] = {
            {true, tpLowest, {10, 10, 0}},   // lowered where it can be undone...
            {true, tpHighest, {-10, -5, 0}}, // ...so it comes back
            {true, tpNormal, {0, 0, 0}},          {false, tpHigher, {-5, -5, 0}},
            {false, tpIdle, {19, 19, 0}},         {false, tpNormal, {0, 0, 0}},
            {true, tpTimeCritical, {-20, -5, 0}},
        };
        for (const auto& step : steps) {
            if (step.write)
                p.port.SetWritePriority(step.priority);
            else
                p.port.SetEventPriority(step.priority);
            // A thread still starting takes the new value itself, a moment later.
            QTRY_COMPARE(NiceOf(step.write ? "comm-write" : "comm-event"), step.nice.in(right));
        }
        QCOMPARE(NiceOf("comm-event"), 0);
        p.port.Close();
    }

    // The two cases above once more in a process with less right to raise priorities.
    void holdWithLessRightToRaise_data() {
        QTest::addColumn<int>("niceLimit");
        QTest::newRow("raising to -5 at most") << 25;
        QTest::newRow("no raising") << 0;
    }
    void holdWithLessRightToRaise() {
        QFETCH(int, niceLimit);
        QByteArray output;
        const int rc = RunChildProcess(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("threadsRunAtTheirPriorities"),
             QStringLiteral("changesWhileOpenKeepTheRule")},
            {QByteArray(LimitVariable) + '=' + QByteArray::number(niceLimit)}, output);
        if (rc == 77)
            QSKIP(output.constData());
        QVERIFY2(rc == 0, output.constData());
        QVERIFY2(!output.contains("SKIP"), output.constData());
    }
};

// In a child run: takes away the right to raise priorities beyond the given limit.
static int LimitRightToRaise(const QByteArray& value) {
    const rlim_t limit = rlim_t(value.toInt());
    rlimit r{limit, limit};
    if (setrlimit(RLIMIT_NICE, &r) != 0) {
        std::printf("can't set RLIMIT_NICE to %d here\n", int(limit));
        return 77;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capget, &header, caps) == 0) {
        caps[0].effective &= ~(1u << CAP_SYS_NICE);
        caps[0].permitted &= ~(1u << CAP_SYS_NICE);
        syscall(SYS_capset, &header, caps);
    }
    return HasCapSysNice() ? 77 : 0;
}

int main(int argc, char** argv) {
    if (const QByteArray limit = qgetenv(LimitVariable); !limit.isEmpty())
        if (const int rc = LimitRightToRaise(limit); rc != 0)
            return rc;
    TCoreApplication app(argc, argv);
    TestVaCommPriority test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vacommpriority.moc"
