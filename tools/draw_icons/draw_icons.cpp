// Draws the program's pictures: the five 16 x 16 tool-button pictures and the 32 x 32
// application icon, each also for 150 % and 200 % screens (name@1.5x.png, name@2x.png:
// 24 and 32 pixels, 48 and 64 for the icon). Run once by hand; the PNG files it writes
// are kept in the sources.
//   draw_icons ui/icons
// At 1x the pictures are pixel art on the 16-pixel grid; the larger ones draw the same
// shapes smoothed at the finer grid, so edges are sharp rather than blown-up pixels.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstdio>

namespace {

// The classic 16-colour palette.
const QColor Black(0, 0, 0), Maroon(128, 0, 0), Green(0, 128, 0), Olive(128, 128, 0),
    Navy(0, 0, 128), Gray(128, 128, 128), Silver(192, 192, 192), Red(255, 0, 0), Lime(0, 255, 0),
    Yellow(255, 255, 0), Blue(0, 0, 255), White(255, 255, 255), Teal(0, 128, 128);

QImage Blank(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// A painter on a blank picture of 16 logical pixels at `ratio`, drawing in logical units.
struct TCanvas {
    explicit TCanvas(qreal ratio) : image(Blank(qRound(16 * ratio))), p(&image) {
        p.scale(ratio, ratio);
        // Smoothed, the 1x pixel at (x, y) is the square from x to x + 1: strokes on
        // whole coordinates move half a pixel to cover the same squares.
        if (ratio > 1) {
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(0.5, 0.5);
        }
    }
    QImage image;
    QPainter p;
};

void Box(QPainter& p, int x, int y, int w, int h, const QColor& fill, const QColor& line) {
    p.setPen(line);
    p.setBrush(fill);
    p.drawRect(x, y, w - 1, h - 1);
}

QImage OpenFolder(qreal ratio) {
    TCanvas canvas(ratio);
    QPainter& p = canvas.p;
    // back of the folder with its tab
    p.setPen(Black);
    p.setBrush(Olive);
    p.drawPolygon(QPolygon({{1, 3}, {5, 3}, {6, 4}, {12, 4}, {12, 13}, {1, 13}}));
    // a sheet sticking out
    Box(p, 3, 5, 8, 4, White, Gray);
    // the open front flap
    p.setBrush(Yellow);
    p.setPen(Black);
    p.drawPolygon(QPolygon({{4, 7}, {15, 7}, {12, 13}, {1, 13}}));
    p.end();
    return canvas.image;
}

void Floppy(QPainter& p, int x, int y, const QColor& body) {
    Box(p, x, y, 10, 10, body, Black);
    Box(p, x + 2, y, 6, 4, Silver, Black);    // shutter
    p.fillRect(x + 6, y + 1, 1, 2, Navy);     // shutter window
    Box(p, x + 2, y + 5, 6, 5, White, Black); // label
    p.setPen(Gray);
    p.drawLine(x + 3, y + 7, x + 6, y + 7);
}

QImage SaveAs(qreal ratio) {
    TCanvas canvas(ratio);
    QPainter& p = canvas.p;
    Floppy(p, 1, 1, Navy);
    Floppy(p, 5, 5, Teal);
    p.end();
    return canvas.image;
}

QImage ReadFromDevice(qreal ratio) {
    TCanvas canvas(ratio);
    QPainter& p = canvas.p;
    // the sheet with a folded corner and lines of text
    p.setPen(Black);
    p.setBrush(White);
    p.drawPolygon(QPolygon({{5, 1}, {12, 1}, {15, 4}, {15, 15}, {5, 15}}));
    p.setPen(Gray);
    for (int y = 7; y <= 13; y += 2)
        p.drawLine(9, y, 13, y);
    p.drawLine(12, 1, 12, 4);
    p.drawLine(12, 4, 15, 4);
    // the red arrow pointing in
    p.setPen(Maroon);
    p.setBrush(Red);
    p.drawPolygon(QPolygon({{0, 6}, {5, 6}, {5, 3}, {10, 8}, {5, 13}, {5, 10}, {0, 10}}));
    p.end();
    return canvas.image;
}

QImage Compare(qreal ratio) {
    TCanvas canvas(ratio);
    QPainter& p = canvas.p;
    p.setPen(Blue);
    p.setBrush(White);
    p.drawRect(0, 0, 15, 15);
    p.drawRect(1, 1, 13, 13);
    // two arrows chasing each other round the square
    p.setPen(Green);
    p.setBrush(Lime);
    p.drawPolygon(QPolygon({{3, 5}, {9, 5}, {9, 3}, {12, 6}, {9, 9}, {9, 7}, {3, 7}}));
    p.drawPolygon(QPolygon({{12, 10}, {6, 10}, {6, 8}, {3, 11}, {6, 14}, {6, 12}, {12, 12}}));
    p.end();
    return canvas.image;
}

QImage Help(qreal ratio) {
    TCanvas canvas(ratio);
    QPainter& p = canvas.p;
    p.resetTransform(); // drawn in exact coordinates
    p.scale(ratio, ratio);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Olive, 1));
    p.setBrush(Yellow);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    if (ratio > 1) {
        // The question mark as a stroke: a hook and a dot, smooth at the finer grid.
        QPainterPath hook;
        hook.moveTo(5.6, 5.8);
        hook.cubicTo(5.6, 3.2, 10.4, 3.0, 10.4, 5.8);
        hook.cubicTo(10.4, 7.6, 8, 7.6, 8, 10);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Red, 2, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(Red);
        p.drawEllipse(QPointF(8, 12.2), 1.2, 1.2);
        p.end();
        return canvas.image;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    // the question mark, pixel by pixel
    p.fillRect(6, 3, 4, 2, Red);
    p.fillRect(5, 4, 2, 2, Red);
    p.fillRect(9, 4, 2, 4, Red);
    p.fillRect(8, 7, 2, 2, Red);
    p.fillRect(7, 8, 2, 2, Red);
    p.fillRect(7, 11, 2, 2, Red);
    p.end();
    return canvas.image;
}

// A grey chip seen from above and in front: top face, front face, pins on both long
// sides, the orientation notch.
// Drawn on a 32-pixel grid; other sizes scale the same drawing (smoothed when larger).
QImage Chip(int size = 32) {
    QImage image = Blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, size > 32);
    p.scale(size / 32.0, size / 32.0);
    const QPolygon top({{9, 6}, {27, 6}, {22, 20}, {4, 20}});
    const QPolygon front({{4, 20}, {22, 20}, {22, 24}, {4, 24}});
    const QPolygon side({{22, 20}, {27, 6}, {27, 10}, {22, 24}});
    // pins behind
    p.setPen(Black);
    for (int i = 0; i < 6; ++i) {
        const int x = 11 + i * 3;
        p.fillRect(x, 3, 2, 4, Silver);
        p.setPen(Gray);
        p.drawLine(x + 1, 3, x + 1, 6);
    }
    p.setPen(Black);
    p.setBrush(Gray);
    p.drawPolygon(top);
    p.setBrush(QColor(96, 96, 96));
    p.drawPolygon(front);
    p.setBrush(QColor(64, 64, 64));
    p.drawPolygon(side);
    // highlight along the top face's far edge
    p.setPen(Silver);
    p.drawLine(10, 7, 25, 7);
    // orientation notch
    p.setPen(Black);
    p.setBrush(Silver);
    p.drawEllipse(QRect(7, 16, 3, 2));
    // pins in front, bent down
    for (int i = 0; i < 6; ++i) {
        const int x = 5 + i * 3;
        p.fillRect(x, 24, 2, 5, Silver);
        p.setPen(White);
        p.drawLine(x, 24, x, 28);
        p.setPen(Gray);
        p.drawLine(x + 1, 24, x + 1, 28);
    }
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: draw_icons <icons folder> [<hicolor theme folder>]\n");
        return 2;
    }
    const QString ui = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    const struct {
        qreal ratio;
        const char* suffix;
    } ratios[] = {{1, ""}, {1.5, "@1.5x"}, {2, "@2x"}};
    for (const auto& [ratio, suffix] : ratios) {
        const QString tail = QString::fromLatin1(suffix) + QLatin1String(".png");
        ok = Save(OpenFolder(ratio), ui + "/open" + tail) && ok;
        ok = Save(SaveAs(ratio), ui + "/saveas" + tail) && ok;
        ok = Save(ReadFromDevice(ratio), ui + "/read" + tail) && ok;
        ok = Save(Compare(ratio), ui + "/verify" + tail) && ok;
        ok = Save(Help(ratio), ui + "/help" + tail) && ok;
        ok = Save(Chip(qRound(32 * ratio)), ui + "/vendrik" + tail) && ok;
    }
    // The application icon in the desktop theme's sizes, for installing.
    if (argc == 3) {
        const QString theme = QString::fromLocal8Bit(argv[2]);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString dir = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
            ok = QDir().mkpath(dir) && Save(Chip(size), dir + "/vendrik.png") && ok;
        }
    }
    return ok ? 0 : 1;
}
