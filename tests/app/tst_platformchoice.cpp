// The platform the program asks for in each kind of session, and, in a real Wayland
// session with XWayland (scripts/with-weston.sh), what the program then really does.

#include "app/PlatformChoice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>

class TestPlatformChoice : public QObject {
    Q_OBJECT
private slots:
    void choiceFollowsSession_data() {
        QTest::addColumn<QStringList>("environment"); // NAME=value
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<bool>("notice");
        const QStringList wayland{"WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE=wayland"};
        QTest::newRow("X11 session")
            << QStringList{"DISPLAY=:0", "XDG_SESSION_TYPE=x11"} << QByteArray() << false;
        QTest::newRow("no session at all") << QStringList{} << QByteArray() << false;
        QTest::newRow("Wayland with XWayland")
            << (wayland + QStringList{"DISPLAY=:1"}) << QByteArray("xcb") << false;
        QTest::newRow("socket only")
            << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:1"} << QByteArray("xcb") << false;
        QTest::newRow("session type only, any case")
            << QStringList{"XDG_SESSION_TYPE=Wayland", "DISPLAY=:1"} << QByteArray("xcb") << false;
        QTest::newRow("empty socket name is no session")
            << QStringList{"WAYLAND_DISPLAY=", "DISPLAY=:0"} << QByteArray() << false;
        QTest::newRow("user chose wayland")
            << (wayland + QStringList{"DISPLAY=:1", "QT_QPA_PLATFORM=wayland"}) << QByteArray()
            << false;
        QTest::newRow("user chose offscreen")
            << (wayland + QStringList{"QT_QPA_PLATFORM=offscreen"}) << QByteArray() << false;
        QTest::newRow("empty choice is no choice")
            << (wayland + QStringList{"DISPLAY=:1", "QT_QPA_PLATFORM="}) << QByteArray("xcb")
            << false;
        QTest::newRow("Wayland without XWayland") << wayland << QByteArray() << true;
        QTest::newRow("Wayland, empty DISPLAY")
            << (wayland + QStringList{"DISPLAY="}) << QByteArray() << true;
    }
    void choiceFollowsSession() {
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, platform);
        QFETCH(bool, notice);
        QProcessEnvironment env;
        for (const QString& entry : environment) {
            const qsizetype eq = entry.indexOf(QLatin1Char('='));
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
        const TPlatformChoice choice = ChoosePlatform(env);
        QCOMPARE(choice.platform, platform);
        QCOMPARE(!choice.notice.isEmpty(), notice);
        if (notice)
            QVERIFY2(choice.notice.contains(QLatin1String("DISPLAY")), qPrintable(choice.notice));
    }

    // The real program in a Wayland session with XWayland and nothing chosen: its main
    // window appears on the X display, and it says nothing, even where the toolkit's own
    // Wayland plug-in is installed.
    void programRunsThroughXWaylandSilently() {
        const QString wayland = qEnvironmentVariable("VENDRIK_TEST_WAYLAND_DISPLAY");
        const QString display = qEnvironmentVariable("VENDRIK_TEST_DISPLAY");
        if (wayland.isEmpty() || display.isEmpty())
            QSKIP("needs a Wayland compositor with XWayland: run under scripts/with-weston.sh");
        const bool waylandPlugin =
            QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QLatin1String("/platforms"))
                .exists(QStringLiteral("libqwayland-generic.so"));
        qInfo("the toolkit's Wayland plug-in is %s", waylandPlugin ? "installed" : "absent");

        QTemporaryDir config;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "QT_LOGGING_RULES", "VENDRIK_TEST_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VENDRIK_BIN), {});
        QVERIFY(program.waitForStarted(10000));

        // The main window by its title, on the X display.
        QElapsedTimer t;
        t.start();
        QByteArray found;
        while (found.isEmpty() && t.elapsed() < 20000 && program.state() == QProcess::Running) {
            QProcess search;
            QProcessEnvironment x = env;
            search.setProcessEnvironment(x);
            search.start(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--name"), QStringLiteral("Мелдор-2")});
            if (search.waitForFinished(5000))
                found = search.readAllStandardOutput().trimmed();
            if (found.isEmpty())
                QTest::qWait(100);
        }
        const bool running = program.state() == QProcess::Running;
        program.kill();
        program.waitForFinished(10000);
        const QByteArray said = program.readAllStandardError() + program.readAllStandardOutput();
        QVERIFY2(running, said.constData());
        QVERIFY2(!found.isEmpty(), "no window of the program on the X display");
        QVERIFY2(said.isEmpty(), said.constData());
    }
};

QTEST_GUILESS_MAIN(TestPlatformChoice)
#include "tst_platformchoice.moc"
