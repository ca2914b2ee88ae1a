// The artwork of the two stock clips, drawn at run time so there is no binary to keep.

#include "ui/Animate.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr int ClipWidth = 48;
constexpr int ClipHeight = 45;
constexpr int FramesPerClip = 12;

// Drawn at the screen's own resolution in the same logical coordinates.
QPixmap BlankFrame(qreal ratio) {
    QPixmap pixmap(qRound(ClipWidth * ratio), qRound(ClipHeight * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawMagnifier(QPainter& p, QPointF centre) {
    p.setPen(QPen(QColor(90, 60, 20), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(4.5, 4.5), centre + QPointF(10, 10));
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(200, 230, 255, 170));
    p.drawEllipse(centre, 6, 6);
    p.setPen(QPen(Qt::white, 1));
    p.drawArc(QRectF(centre.x() - 4, centre.y() - 4, 8, 8), 100 * 16, 60 * 16);
}

void DrawComputer(QPainter& p) {
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(12.5, 6.5, 24, 19)); // monitor
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(15.5, 9.5, 18, 13)); // screen
    p.setBrush(QColor(160, 160, 160));
    p.drawRect(QRectF(20.5, 25.5, 8, 3)); // stand
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(8.5, 30.5, 32, 6)); // system unit
    p.setPen(QColor(0, 160, 0));
    p.drawPoint(QPointF(36.5, 33.5));
}

QPixmap FindComputerFrame(int index, qreal ratio) {
    QPixmap pixmap = BlankFrame(ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawComputer(p);
    const double angle = 2 * M_PI * index / FramesPerClip;
    DrawMagnifier(p, QPointF(24 + 15 * std::cos(angle), 20 + 10 * std::sin(angle)));
    return pixmap;
}

void DrawFolder(QPainter& p) {
    p.setPen(QPen(QColor(128, 96, 0), 1));
    p.setBrush(QColor(255, 210, 60));
    QPainterPath folder;
    folder.moveTo(1.5, 16.5);
    folder.lineTo(7.5, 16.5);
    folder.lineTo(9.5, 19.5);
    folder.lineTo(19.5, 19.5);
    folder.lineTo(19.5, 36.5);
    folder.lineTo(1.5, 36.5);
    folder.closeSubpath();
    p.drawPath(folder);
}

void DrawSheet(QPainter& p) {
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(24.5, 4.5, 20, 30));
    p.setPen(QColor(128, 128, 128));
    for (int y = 9; y <= 29; y += 5)
        p.drawLine(QPointF(27.5, y + 0.5), QPointF(41.5, y + 0.5));
}

QPixmap FindFileFrame(int index, qreal ratio) {
    QPixmap pixmap = BlankFrame(ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawFolder(p);
    DrawSheet(p);
    // The glass reads the sheet line by line, left to right.
    const int row = index / 4;
    const int step = index % 4;
    DrawMagnifier(p, QPointF(28 + step * 4.5, 10 + row * 9));
    return pixmap;
}

} // namespace

int ClipFrameCount(TCommonAVI clip) {
    return clip == aviNone ? 0 : FramesPerClip;
}

QSize ClipFrameSize(TCommonAVI clip) {
    return clip == aviNone ? QSize() : QSize(ClipWidth, ClipHeight);
}

QPixmap ClipFrame(TCommonAVI clip, int index, qreal devicePixelRatio) {
    if (index < 0 || index >= ClipFrameCount(clip) || !(devicePixelRatio > 0))
        return QPixmap();
    return clip == aviFindComputer ? FindComputerFrame(index, devicePixelRatio)
                                   : FindFileFrame(index, devicePixelRatio);
}
