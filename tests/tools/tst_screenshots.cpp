// The screenshots kept in docs/pictures are what render_windows draws today: a window
// whose layout or texts changed fails here until scripts/screenshots.sh has drawn them
// again. Small differences over text edges, as a change of anti-aliasing or hinting
// gives, pass.

#include "tests/common/TestSupport.h"
#include "tools/render_windows/PictureDiff.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// From renderings of the same windows on this machine (1x; the 2x pictures moved less):
// fontconfig's hinting off instead of slight, as a rasteriser update might do, left at
// most 0.019 % of the pixels more than half the range apart (help window), subpixel
// instead of grey anti-aliasing none; one letter of a caption changed gave 0.034 %,
// the Write button moved 2 px 0.42 %.
constexpr int ChannelThreshold = 128;
constexpr double AllowedFraction = 0.00025;

const QStringList Shots{QStringLiteral("main"), QStringLiteral("progress-write"),
                        QStringLiteral("help")};
const QList<int> Ratios{1, 2};

QString FileName(const QString& shot, int ratio) {
    return shot + (ratio == 1 ? QString() : QStringLiteral("@%1x").arg(ratio)) + ".png";
}

QString Described(const TPictureDiff& d) {
    return QStringLiteral("%1x%2 against %3x%4; %5 pixels (%6 %) differ by more than %7, "
                          "within %8,%9 %10x%11; largest difference %12")
        .arg(d.size.width())
        .arg(d.size.height())
        .arg(d.otherSize.width())
        .arg(d.otherSize.height())
        .arg(d.differing)
        .arg(100 * d.Fraction(), 0, 'f', 3)
        .arg(ChannelThreshold)
        .arg(d.where.x())
        .arg(d.where.y())
        .arg(d.where.width())
        .arg(d.where.height())
        .arg(d.largest);
}

// Every `step`th pixel moved by `by` in each channel, towards the far end of the range.
QImage Nudged(QImage image, int step, int by) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    auto* p = reinterpret_cast<QRgb*>(image.bits());
    const qsizetype n = qsizetype(image.width()) * image.height();
    const auto nudge = [by](int c) { return std::clamp(c < 128 ? c + by : c - by, 0, 255); };
    for (qsizetype i = 0; i < n; i += step)
        p[i] = qRgba(nudge(qRed(p[i])), nudge(qGreen(p[i])), nudge(qBlue(p[i])), qAlpha(p[i]));
    return image;
}

// `area` drawn again `dx` pixels to the right, as a control moved within its window.
QImage Moved(QImage image, const QRect& area, int dx) {
    const QImage piece = image.copy(area);
    const QColor background = image.pixelColor(0, 0);
    {
        QPainter painter(&image);
        painter.fillRect(area, background);
        painter.drawImage(area.topLeft() + QPoint(dx, 0), piece);
    }
    return image;
}

// A word's worth of text in another colour at `at`, as a changed caption.
QImage Recaptioned(QImage image, const QPoint& at) {
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        painter.drawText(at, QStringLiteral("Сектора"));
    }
    return image;
}

struct TListedImage {
    QString url;
    QSize size;
};

// The <image> entries of the AppStream data, with the size each claims.
QList<TListedImage> ListedImages(QString* error) {
    QFile file(QStringLiteral(VENDRIK_METAINFO));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<TListedImage> images;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"image") {
            const QSize size(xml.attributes().value(QLatin1String("width")).toInt(),
                             xml.attributes().value(QLatin1String("height")).toInt());
            images.append({xml.readElementText().trimmed(), size});
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return images;
}

} // namespace

class TestScreenshots : public QObject {
    Q_OBJECT
    QTemporaryDir rendered_;

private slots:
    void initTestCase() {
        QVERIFY(rendered_.isValid());
        for (int ratio : Ratios) {
            QByteArray output;
            const int status = RunChildProcess(
                QStringLiteral(RENDER_WINDOWS_BIN), {"--screenshots", rendered_.path()},
                {"QT_QPA_PLATFORM=offscreen", "QT_SCALE_FACTOR=" + QByteArray::number(ratio)},
                output, 100000);
            QVERIFY2(status == 0, output.constData());
        }
    }

    void committedPictureMatchesRendering_data() {
        QTest::addColumn<QString>("name");
        for (int ratio : Ratios)
            for (const QString& shot : Shots)
                QTest::newRow(qPrintable(FileName(shot, ratio))) << FileName(shot, ratio);
    }
    void committedPictureMatchesRendering() {
        QFETCH(QString, name);
        const QImage committed(QStringLiteral(VENDRIK_PICTURES_DIR "/") + name);
        const QImage now(rendered_.filePath(name));
        QVERIFY2(!now.isNull(), "render_windows did not write it");
        QVERIFY2(!committed.isNull(), "not in docs/pictures: run scripts/screenshots.sh");
        const TPictureDiff diff = ComparePictures(committed, now, ChannelThreshold);
        QVERIFY2(PicturesMatch(diff, AllowedFraction),
                 qPrintable("the window no longer looks like its picture (run "
                            "scripts/screenshots.sh and look at the new one): " +
                            Described(diff)));
    }

    // A picture for a 2x screen drawn at that ratio, not the 1x one blown up.
    void doubleRatioPictureIsTwiceTheSize_data() {
        QTest::addColumn<QString>("shot");
        for (const QString& shot : Shots)
            QTest::newRow(qPrintable(shot)) << shot;
    }
    void doubleRatioPictureIsTwiceTheSize() {
        QFETCH(QString, shot);
        const QImage one(rendered_.filePath(FileName(shot, 1)));
        const QImage two(rendered_.filePath(FileName(shot, 2)));
        QVERIFY(!one.isNull() && !two.isNull());
        QCOMPARE(two.size(), one.size() * 2);
        const QImage blownUp = one.scaled(two.size());
        QVERIFY2(!PicturesMatch(ComparePictures(blownUp, two, ChannelThreshold), AllowedFraction),
                 "the 2x picture is the 1x one scaled up");
    }

    // No picture kept that the renderer no longer draws, none drawn that is not kept.
    void committedFolderHoldsTheRenderedPictures() {
        QStringList committed = QDir(QStringLiteral(VENDRIK_PICTURES_DIR))
                                    .entryList({QStringLiteral("*.png")}, QDir::Files);
        QStringList rendered = QDir(rendered_.path()).entryList(QDir::Files);
        committed.sort();
        rendered.sort();
        QCOMPARE(committed, rendered);
    }

    // Each screenshot the software centre shows is a committed picture, of the size it
    // claims, and every picture is shown; the addresses are the homepage's docs/ folder.
    void metainfoShowsTheCommittedPictures() {
        QString error;
        const QList<TListedImage> images = ListedImages(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString base = QStringLiteral("https://vendrik.example.org/docs/pictures/");
        QStringList listed;
        for (const TListedImage& image : images) {
            QVERIFY2(image.url.startsWith(base), qPrintable(image.url));
            const QString name = image.url.mid(base.size());
            const QImage committed(QStringLiteral(VENDRIK_PICTURES_DIR "/") + name);
            QVERIFY2(!committed.isNull(), qPrintable(name + " is not in docs/pictures"));
            QVERIFY2(committed.size() == image.size,
                     qPrintable(QStringLiteral("%1 is %2x%3, the metainfo says %4x%5")
                                    .arg(name)
                                    .arg(committed.width())
                                    .arg(committed.height())
                                    .arg(image.size.width())
                                    .arg(image.size.height())));
            listed << name;
        }
        listed.sort();
        QStringList committed = QDir(QStringLiteral(VENDRIK_PICTURES_DIR))
                                    .entryList({QStringLiteral("*.png")}, QDir::Files);
        committed.sort();
        QCOMPARE(listed, committed);
    }

    // The tolerance lets through what a font update does and catches a changed window.
    void comparisonTellsFontNoiseFromChangedWindow_data() {
        QTest::addColumn<QImage>("changed");
        QTest::addColumn<bool>("matches");
        const QImage main(rendered_.filePath(QStringLiteral("main.png")));
        QVERIFY(!main.isNull());
        QTest::newRow("the same picture") << main << true;
        QTest::newRow("every pixel off by the threshold")
            << Nudged(main, 1, ChannelThreshold) << true;
        QTest::newRow("every pixel just past the threshold")
            << Nudged(main, 1, ChannelThreshold + 1) << false;
        QTest::newRow("scattered pixels far off, half the allowance")
            << Nudged(main, int(2 / AllowedFraction), 255) << true;
        QTest::newRow("scattered pixels far off, twice the allowance")
            << Nudged(main, int(0.5 / AllowedFraction), 255) << false;
        QTest::newRow("one pixel narrower")
            << main.copy(0, 0, main.width() - 1, main.height()) << false;
        // The Write button and the empty right half of the file group.
        QTest::newRow("a button moved 2 px") << Moved(main, QRect(8, 200, 241, 25), 2) << false;
        QTest::newRow("a caption changed") << Recaptioned(main, QPoint(150, 130)) << false;
    }
    void comparisonTellsFontNoiseFromChangedWindow() {
        QFETCH(QImage, changed);
        QFETCH(bool, matches);
        const QImage main(rendered_.filePath(QStringLiteral("main.png")));
        const TPictureDiff diff = ComparePictures(main, changed, ChannelThreshold);
        QVERIFY2(PicturesMatch(diff, AllowedFraction) == matches, qPrintable(Described(diff)));
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // text is drawn into the pictures
    TestScreenshots test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenshots.moc"
