#include "ui/Animate.h"

#include <QPainter>

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(FrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TAnimate::NextFrame);
}

void TAnimate::SetCommonAVI(TCommonAVI clip) {
    SetActive(false);
    clip_ = clip;
    frames_ = ClipFrames(clip);
    frame_ = 0;
    if (!frames_.isEmpty())
        resize(frames_.constFirst().size());
    update();
}

void TAnimate::SetActive(bool active) {
    frame_ = 0;
    if (active && frames_.size() > 1)
        timer_.start();
    else
        timer_.stop();
    update();
}

void TAnimate::NextFrame() {
    if (frames_.isEmpty())
        return;
    frame_ = (frame_ + 1) % int(frames_.size());
    update();
}

void TAnimate::paintEvent(QPaintEvent*) {
    if (frames_.isEmpty())
        return; // the parent's colour shows through
    const QPixmap& pixmap = frames_.at(frame_);
    QPainter p(this);
    p.drawPixmap((width() - pixmap.width()) / 2, (height() - pixmap.height()) / 2, pixmap);
}
