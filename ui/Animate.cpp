#include "ui/Animate.h"

#include <QPainter>

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(FrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TAnimate::NextFrame);
}

void TAnimate::SetCommonAVI(TCommonAVI clip) {
    SetActive(false);
    clip_ = clip;
    frames_.clear();
    frame_ = 0;
    if (FrameCount() > 0)
        resize(ClipFrameSize(clip));
    update();
}

void TAnimate::SetActive(bool active) {
    frame_ = 0;
    if (active && FrameCount() > 1)
        timer_.start();
    else
        timer_.stop();
    update();
}

void TAnimate::NextFrame() {
    if (FrameCount() == 0)
        return;
    frame_ = (frame_ + 1) % FrameCount();
    update();
}

void TAnimate::paintEvent(QPaintEvent*) {
    if (FrameCount() == 0)
        return; // the parent's colour shows through
    const qreal ratio = devicePixelRatioF();
    if (ratio != framesRatio_) { // moved to a screen of another scale
        frames_.clear();
        framesRatio_ = ratio;
    }
    if (frames_.size() != FrameCount())
        frames_.resize(FrameCount());
    QPixmap& pixmap = frames_[frame_];
    if (pixmap.isNull())
        pixmap = ClipFrame(clip_, frame_, ratio);
    const QSize size = pixmap.deviceIndependentSize().toSize();
    QPainter p(this);
    p.drawPixmap((width() - size.width()) / 2, (height() - size.height()) / 2, pixmap);
}
