// The window program's font warm-up: the configuration it reads ahead is the one the
// toolkit then finds its fonts in, and a warm-up is never left running.

#include "app/FontConfigWarmup.h"
#include "window/Application.h"

#include <QFontDatabase>
#include <QtTest/QTest>

#include <memory>

class TestFontWarmup : public QObject {
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
};

int main(int argc, char** argv) {
    TFontConfigWarmup fonts;
    TApplication app(argc, argv);
    fonts.Wait();
    TestFontWarmup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fontwarmup.moc"
