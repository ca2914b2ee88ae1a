// The verdicts of the port check from made-up facts: the cases an unprivileged operator
// meets (permissions, processes root would see) cannot all be staged on a test machine.

#include "tools/vendrik-port/PortDiagnosis.h"

#include <QtTest>

Q_DECLARE_METATYPE(TPortFacts)

class TestPortDiagnosis : public QObject {
    Q_OBJECT
private slots:
    void verdict_data();
    void verdict();
};

namespace {
TPortFacts Facts(TOpenOutcome outcome) {
    TPortFacts f;
    f.number = 2;
    f.target = QStringLiteral("/dev/ttyUSB0");
    f.mapped = true;
    f.usb = true;
    f.outcome = outcome;
    f.user = QStringLiteral("ivan");
    f.group = QStringLiteral("dialout");
    f.mode = 0660;
    return f;
}
} // namespace

void TestPortDiagnosis::verdict_data() {
    QTest::addColumn<TPortFacts>("facts");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("never");
    const QStringList none;
    const QString udev = QStringLiteral("vendrik-port udev 2 --install");

    TPortFacts f = Facts(TOpenOutcome::AccessDenied);
    QTest::newRow("not in the group") << f << false
                                      << QStringList{"группе dialout", "sudo adduser ivan dialout",
                                                     "войдите в систему заново", udev}
                                      << none;
    f.accountInGroup = true;
    QTest::newRow("added, but not logged in again")
        << f << false << QStringList{"уже добавлены", "выйдите из системы и войдите снова", udev}
        << none;
    f.sessionInGroup = true;
    f.mode = 0600;
    QTest::newRow("in the group, group has no rights")
        << f << false << QStringList{"хотя вы (ivan) в группе dialout", "rw-------", udev} << none;
    f = Facts(TOpenOutcome::AccessDenied);
    f.usb = false;
    // A built-in port has no USB identity for a rule to match.
    QTest::newRow("built-in port, not in the group")
        << f << false << QStringList{"sudo adduser ivan dialout"} << QStringList{"udev"};

    f = Facts(TOpenOutcome::Busy);
    f.holders = {{1234, QStringLiteral("minicom")}};
    QTest::newRow("busy, holder seen")
        << f << false << QStringList{"minicom (pid 1234)", "kill 1234"} << none;
    f.holders = {{77, QStringLiteral("ModemManager")}};
    QTest::newRow("busy, ModemManager probing")
        << f << false << QStringList{"ModemManager (pid 77)", udev, "systemctl"} << none;
    f.holders.clear();
    QTest::newRow("busy, holders hidden from a user")
        << f << false << QStringList{"только с правами root", "sudo fuser -v /dev/ttyUSB0"} << none;
    f.allProcessesVisible = true;
    QTest::newRow("busy, no holder even for root")
        << f << false << QStringList{"не найдена", "переподключите адаптер"} << none;

    f = Facts(TOpenOutcome::HeldElsewhere);
    f.holders = {{9, QStringLiteral("screen")}, {10, QStringLiteral("logger")}};
    QTest::newRow("held by other programs, not opened")
        << f << false << QStringList{"screen (pid 9), logger (pid 10)", "не открывала", "kill 9"}
        << none;
    f.holders = {{77, QStringLiteral("ModemManager")}};
    QTest::newRow("held by ModemManager, not opened")
        << f << false << QStringList{"ModemManager (pid 77)", udev} << none;

    f = Facts(TOpenOutcome::Opened);
    QTest::newRow("opened") << f << true << QStringList{"COM2 (/dev/ttyUSB0): порт в порядке"}
                            << none;
    f.modemManager = {55, QStringLiteral("ModemManager")};
    QTest::newRow("opened, ModemManager running")
        << f << false << QStringList{"ModemManager (pid 55)", udev} << none;
    f.usb = false;
    QTest::newRow("ModemManager leaves built-in ports alone")
        << f << true << QStringList{"порт в порядке"} << none;

    f = Facts(TOpenOutcome::Missing);
    QTest::newRow("mapped device gone")
        << f << false << QStringList{"COM2 указывает на /dev/ttyUSB0", "vendrik-port map 2"}
        << none;
    f.mapped = false;
    f.target = QStringLiteral("/dev/ttyS1");
    QTest::newRow("default port missing")
        << f << false << QStringList{"COM2 — это /dev/ttyS1", "vendrik-port list"} << none;
    f.outcome = TOpenOutcome::SettingsRefused;
    f.errorText = QStringLiteral("Invalid argument");
    QTest::newRow("settings refused")
        << f << false << QStringList{"57600 8N1 (Invalid argument)"} << none;
    f.outcome = TOpenOutcome::OtherError;
    f.error = 122;
    QTest::newRow("anything else")
        << f << false << QStringList{"Invalid argument (код 122)"} << none;
}

void TestPortDiagnosis::verdict() {
    QFETCH(TPortFacts, facts);
    QFETCH(bool, ok);
    QFETCH(QStringList, says);
    QFETCH(QStringList, never);
    const TDiagnosis d = Diagnose(facts);
    QCOMPARE(d.ok, ok);
    QVERIFY(!d.line.contains(u'\n'));
    for (const QString& s : says)
        QVERIFY2(d.line.contains(s), qPrintable(d.line + QStringLiteral("  [wanted: ") + s + u']'));
    for (const QString& s : never)
        QVERIFY2(!d.line.contains(s),
                 qPrintable(d.line + QStringLiteral("  [unwanted: ") + s + u']'));
}

QTEST_APPLESS_MAIN(TestPortDiagnosis)
#include "tst_portdiagnosis.moc"
