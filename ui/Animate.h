#pragma once
// An animation control with the two stock clips a device run shows: searching for a
// computer while the device is awaited, searching for a file while sectors move.

#include <QPixmap>
#include <QTimer>
#include <QVector>
#include <QWidget>

enum TCommonAVI { aviNone, aviFindComputer, aviFindFile };

// The clips' artwork: frame count (0 for aviNone), frame size in logical pixels, and one
// frame drawn afresh for a screen of the given device pixel ratio.
int ClipFrameCount(TCommonAVI clip);
QSize ClipFrameSize(TCommonAVI clip);
QPixmap ClipFrame(TCommonAVI clip, int index, qreal devicePixelRatio = 1);

class TAnimate : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
public:
    explicit TAnimate(QWidget* parent = nullptr);

    // Closes the clip shown before; the control takes the size of the new clip's frames.
    void SetCommonAVI(TCommonAVI clip);
    TCommonAVI CommonAVI() const { return clip_; }

    // Playing loops the clip without end; stopping goes back to its first frame.
    void SetActive(bool active);
    bool Active() const { return timer_.isActive(); }

    int FrameCount() const { return ClipFrameCount(clip_); }
    int CurrentFrame() const { return frame_; }
    // Time between frames while playing.
    static constexpr int FrameIntervalMs = 110;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NextFrame();

    TCommonAVI clip_ = aviNone;
    // Drawn when first painted, for the screen's ratio: a window never shown draws none.
    QVector<QPixmap> frames_;
    qreal framesRatio_ = 1;
    int frame_ = 0;
    QTimer timer_;
};
