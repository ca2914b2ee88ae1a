// The message-box seam and the general error report as a program without windows meets
// them: what is written while no box is installed, how a temporary handler is put back,
// and errors escaping the event loop of the Core-only application object.

#include "base/CoreApplication.h"
#include "base/ErrorReport.h"
#include "base/MessageBox.h"
#include "base/ProgramError.h"
#include "tests/common/TestSupport.h"

#include <QtTest/QTest>
#include <stdexcept>

class TestReportSeam : public QObject {
    Q_OBJECT
private slots:
    void init() { SetApplicationTitle(QStringLiteral("Vendrik")); }

    void boxWithoutHandlerIsLoggedBySeverity_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("line");
        QTest::newRow("error") << "Не могу открыть порт"
                               << "Ошибка" << int(TMessageIcon::Error) << int(QtCriticalMsg)
                               << "Ошибка: Не могу открыть порт";
        QTest::newRow("warning") << "Программа не загружена"
                                 << "Программатор" << int(TMessageIcon::Warning)
                                 << int(QtWarningMsg) << "Программатор: Программа не загружена";
        QTest::newRow("no icon") << "OK"
                                 << "Программатор" << int(TMessageIcon::None) << int(QtInfoMsg)
                                 << "Программатор: OK";
        QTest::newRow("no caption")
            << "Не могу считать файл"
            << "" << int(TMessageIcon::Error) << int(QtCriticalMsg) << "Не могу считать файл";
    }
    void boxWithoutHandlerIsLoggedBySeverity() {
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(int, icon);
        QFETCH(int, type);
        QFETCH(QString, line);
        QTest::ignoreMessage(QtMsgType(type), line.toUtf8().constData());
        ShowMessageBox(text, caption, TMessageIcon(icon));
    }

    // A handler stands in front of the installed box until it is taken away again.
    void handlerOverridesInstalledBoxUntilRemoved() {
        QStringList shown;
        QVERIFY(!InstallMessageBox([&](const QString& text, const QString&, TMessageIcon) {
            shown << "installed " + text;
        }));
        ShowMessageBox("a", "c", TMessageIcon::Warning);
        {
            MessageRecorder boxes;
            ShowMessageBox("b", "c", TMessageIcon::Warning);
            QCOMPARE(boxes.boxes.size(), 1);
            QCOMPARE(boxes.boxes[0].text, QString("b"));
        }
        ShowMessageBox("c", "c", TMessageIcon::Warning);
        SetMessageBoxHandler(
            [&](const QString& text, const QString&, TMessageIcon) { shown << "handler " + text; });
        ShowMessageBox("d", "c", TMessageIcon::Warning);
        SetMessageBoxHandler({});
        ShowMessageBox("e", "c", TMessageIcon::Warning);
        QCOMPARE(shown, (QStringList{"installed a", "installed c", "handler d", "installed e"}));
        InstallMessageBox({});
        QTest::ignoreMessage(QtWarningMsg, "c: f");
        ShowMessageBox("f", "c", TMessageIcon::Warning);
        QCOMPARE(shown.size(), 4);
    }

    void reportWithoutHandlerIsLoggedWithTitle() {
        QTest::ignoreMessage(QtCriticalMsg, "Vendrik: Read error (5), Input/output error.");
        ReportException(
            std::make_exception_ptr(EProgramError("Read error (5), Input/output error")));
    }

    // Whatever escapes a queued call is reported as the window program reports it, and
    // the next event is still delivered.
    void errorEscapingEventIsReportedAndLoopGoesOn_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shown");
        QTest::newRow("program's own") << 0 << "Error writing dcb (22), Invalid argument.";
        QTest::newRow("standard") << 1 << "plain failure!";
        QTest::newRow("anything else") << 2 << "Unknown error.";
    }
    void errorEscapingEventIsReportedAndLoopGoesOn() {
        QFETCH(int, kind);
        QFETCH(QString, shown);
        MessageRecorder boxes;
        bool after = false;
        QMetaObject::invokeMethod(
            qApp,
            [kind] {
                if (kind == 0)
                    throw EProgramError("Error writing dcb (22), Invalid argument");
                if (kind == 1)
                    throw std::runtime_error("plain failure!");
                throw 42;
            },
            Qt::QueuedConnection);
        QMetaObject::invokeMethod(
            qApp, [&] { after = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(after);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, shown);
        QCOMPARE(boxes.boxes[0].caption, QString("Vendrik"));
        QCOMPARE(boxes.boxes[0].icon, TMessageIcon::Error);
    }
};

int main(int argc, char** argv) {
    TCoreApplication app(argc, argv);
    TestReportSeam test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reportseam.moc"
