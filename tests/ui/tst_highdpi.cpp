// On a 200 % screen (QT_SCALE_FACTOR=2, set before the application exists) the windows
// keep their logical geometry, and every picture is drawn for the finer grid rather than
// blown up from the 1x one.

#include "tests/common/ProgramWindows.h"
#include "tests/common/TestSupport.h"
#include "tests/common/WindowManager.h"
#include "ui/Animate.h"
#include "ui/Pictures.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"
#include "window/Application.h"

#include <QToolButton>
#include <QtTest/QTest>

namespace {

// Pixels in which two pictures of one size differ.
int DifferingPixels(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    if (x.size() != y.size())
        return -1;
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            n += x.pixel(col, row) != y.pixel(col, row);
    return n;
}

// `larger` is a picture of its own: neither the 1x picture's pixels doubled nor smoothed.
void CheckNotUpscaled(const QImage& base, const QImage& larger) {
    for (Qt::TransformationMode mode : {Qt::FastTransformation, Qt::SmoothTransformation}) {
        const QImage scaled = base.scaled(larger.size(), Qt::IgnoreAspectRatio, mode);
        QVERIFY2(DifferingPixels(scaled, larger) > larger.width(),
                 mode == Qt::FastTransformation ? "the 1x picture with its pixels doubled"
                                                : "the 1x picture smoothed up");
    }
}

} // namespace

class TestHighDpi : public QObject {
    Q_OBJECT
private slots:
    void windowsKeepLogicalGeometry_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("main window") << "formMain" << QRect(0, 0, 258, 236);
        QTest::newRow("tool button") << "BtnOpen" << QRect(5, 5, 23, 22);
        QTest::newRow("write button") << "BtnWrite" << QRect(8, 48, 241, 25);
        QTest::newRow("progress window") << "formSearsh" << QRect(0, 0, 298, 101);
        QTest::newRow("progress bar") << "ProgressBar1" << QRect(8, 51, 281, 16);
    }
    void windowsKeepLogicalGeometry() {
        QFETCH(QString, control);
        QFETCH(QRect, geometry);
        TempConfigHome config;
        MessageRecorder boxes;
        TProgramWindows windows = StartProgram();
        QVERIFY(QTest::qWaitForWindowExposed(formMain));
        QCOMPARE(formMain->devicePixelRatioF(), 2.0);
        formSearsh->CentreOver(formMain);
        formSearsh->show();
        QVERIFY(QTest::qWaitForWindowExposed(formSearsh));
        QWidget* w =
            control == QLatin1String("formMain") ? static_cast<QWidget*>(formMain) : formSearsh;
        if (control != QLatin1String("formMain") && control != QLatin1String("formSearsh")) {
            w = formMain->findChild<QWidget*>(control);
            if (!w)
                w = formSearsh->findChild<QWidget*>(control);
        }
        QVERIFY(w);
        QCOMPARE(w->isWindow() ? QRect(QPoint(), w->size()) : w->geometry(), geometry);
        // What reaches the screen is twice as large in device pixels.
        QCOMPARE(w->grab().size(), geometry.size() * 2);
        if (UnderWindowManager() && w->isWindow())
            QCOMPARE(wm::NativeClientOnScreen(w).size(), geometry.size() * 2);
        formSearsh->hide();
    }

    void picturesComeInTheScreensRatio_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("ratio");
        for (const char* name : {"open", "saveas", "read", "verify", "help"}) {
            QTest::addRow("%s 150 %%", name) << QString::fromLatin1(name) << 16 << 1.5;
            QTest::addRow("%s 200 %%", name) << QString::fromLatin1(name) << 16 << 2.0;
        }
        QTest::newRow("application icon 150 %") << "vendrik" << 32 << 1.5;
        QTest::newRow("application icon 200 %") << "vendrik" << 32 << 2.0;
    }
    void picturesComeInTheScreensRatio() {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(double, ratio);
        const QIcon icon = PictureIcon(name);
        const QPixmap base = icon.pixmap(QSize(size, size), 1.0);
        const QPixmap larger = icon.pixmap(QSize(size, size), ratio);
        QCOMPARE(base.size(), QSize(size, size));
        QCOMPARE(larger.devicePixelRatio(), ratio);
        QCOMPARE(larger.size(), QSize(qRound(size * ratio), qRound(size * ratio)));
        CheckNotUpscaled(base.toImage(), larger.toImage());
    }

    // The tool buttons show those pictures: what a button paints at 200 % carries the
    // larger picture's pixels.
    void toolButtonPaintsTheLargerPicture() {
        TempConfigHome config;
        MessageRecorder boxes;
        TProgramWindows windows = StartProgram();
        QVERIFY(QTest::qWaitForWindowExposed(formMain));
        const QIcon icon = formMain->BtnOpen->icon();
        QCOMPARE(icon.pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
        const QImage painted = formMain->BtnOpen->grab().toImage();
        QCOMPARE(painted.size(), QSize(46, 44));
        const QImage picture = PictureIcon(QStringLiteral("open"))
                                   .pixmap(QSize(16, 16), 2.0)
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32);
        // The picture sits near the button's centre: find it there, pixel for pixel where
        // it is opaque.
        int opaque = 0, same = 0;
        for (int dy = 0; dy + 32 <= painted.height(); ++dy)
            for (int dx = 0; dx + 32 <= painted.width(); ++dx) {
                int o = 0, m = 0;
                for (int y = 0; y < 32; ++y)
                    for (int x = 0; x < 32; ++x)
                        if (qAlpha(picture.pixel(x, y)) == 255) {
                            ++o;
                            m += painted.pixel(dx + x, dy + y) == picture.pixel(x, y);
                        }
                if (m > same)
                    opaque = o, same = m;
            }
        QVERIFY(opaque > 100);
        QVERIFY2(same > opaque * 9 / 10,
                 qPrintable(QStringLiteral("%1 of %2").arg(same).arg(opaque)));
    }

    void clipFramesAreDrawnAtTheRatio_data() {
        QTest::addColumn<int>("clip");
        QTest::newRow("find computer") << int(aviFindComputer);
        QTest::newRow("find file") << int(aviFindFile);
    }
    void clipFramesAreDrawnAtTheRatio() {
        QFETCH(int, clip);
        const auto avi = TCommonAVI(clip);
        const QPixmap base = ClipFrame(avi, 3, 1.0);
        const QPixmap larger = ClipFrame(avi, 3, 2.0);
        QCOMPARE(larger.devicePixelRatio(), 2.0);
        QCOMPARE(larger.size(), ClipFrameSize(avi) * 2);
        QCOMPARE(larger.deviceIndependentSize().toSize(), ClipFrameSize(avi));
        CheckNotUpscaled(base.toImage(), larger.toImage());
        // The control draws the larger frames on a 200 % screen, in its logical size.
        TAnimate animate;
        animate.SetCommonAVI(avi);
        QCOMPARE(animate.size(), ClipFrameSize(avi));
        const QImage painted = animate.grab().toImage();
        QCOMPARE(painted.size(), ClipFrameSize(avi) * 2);
    }
};

int main(int argc, char** argv) {
    SelectTestPlatform();
    qputenv("QT_SCALE_FACTOR", "2");
    TApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
