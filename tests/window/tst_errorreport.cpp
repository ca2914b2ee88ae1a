#include "base/ErrorReport.h"
#include "base/ProgramError.h"
#include "tests/common/TestSupport.h"
#include "window/Application.h"

#include <QPushButton>
#include <QtTest/QTest>
#include <stdexcept>

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void titleComesFromExecutableName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("windows exe") << "C:\\Program Files\\Vendrik.exe"
                                     << "Vendrik";
        QTest::newRow("other name") << "MyTool.exe"
                                    << "Mytool";
        QTest::newRow("capitals") << "/usr/bin/VENDRIK"
                                  << "Vendrik";
        QTest::newRow("first dot cuts") << "/opt/a.b/Tool.v2.exe"
                                        << "Tool";
        QTest::newRow("one letter") << "x"
                                    << "x";
        QTest::newRow("cyrillic lowered") << "/tmp/ПРОГРАММА"
                                          << "Программа";
    }
    void titleComesFromExecutableName() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(TitleFromExecutable(path), title);
    }

    void fullStopAddedOnlyAfterCharactersSortingAfterDot_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Read error (5), Input/output error"
                                << "Read error (5), Input/output error.";
        QTest::newRow("digit") << "code 5"
                               << "code 5.";
        QTest::newRow("question") << "what?"
                                  << "what?.";
        QTest::newRow("full stop") << "done."
                                   << "done.";
        QTest::newRow("exclamation") << "stop!"
                                     << "stop!";
        QTest::newRow("parenthesis") << "Specified device not found (COM9)"
                                     << "Specified device not found (COM9)";
        QTest::newRow("blank") << "trailing "
                               << "trailing ";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("cyrillic") << "Ошибка"
                                  << "Ошибка.";
    }
    void fullStopAddedOnlyAfterCharactersSortingAfterDot() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(WithFullStop(message), shown);
    }

    void guardedHandlerErrorIsReportedAndLoopGoesOn() {
        MessageRecorder boxes;
        SetApplicationTitle("Vendrik");
        QPushButton button;
        int clicks = 0;
        QObject::connect(&button, &QPushButton::clicked, Guarded([&] {
            ++clicks;
            if (clicks == 1)
                throw EProgramError("Read error (5), Input/output error");
            throw std::runtime_error("plain failure!");
        }));
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(boxes.boxes.size(), 2);
        QCOMPARE_BOX(boxes, 0, QString("Read error (5), Input/output error."), QString("Vendrik"),
                     TMessageIcon::Error);
        QCOMPARE_BOX(boxes, 1, QString("plain failure!"), QString("Vendrik"), TMessageIcon::Error);
    }

    // The application object is the last resort for errors escaping any event.
    void queuedCallErrorIsReported() {
        MessageRecorder boxes;
        QMetaObject::invokeMethod(
            qApp, [] { throw EProgramError("from another thread"); }, Qt::QueuedConnection);
        QTRY_COMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString("from another thread."));
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestErrorReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_errorreport.moc"
