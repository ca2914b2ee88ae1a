#pragma once
// An animation control with the two stock clips a device run shows: searching for a
// computer while the device is awaited, searching for a file while sectors move.

#include <QPixmap>
#include <QTimer>
#include <QVector>
#include <QWidget>

enum TCommonAVI { aviNone, aviFindComputer, aviFindFile };

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

    int FrameCount() const { return int(frames_.size()); }
    int CurrentFrame() const { return frame_; }
    // Time between frames while playing.
    static constexpr int FrameIntervalMs = 110;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NextFrame();

    TCommonAVI clip_ = aviNone;
    QVector<QPixmap> frames_;
    int frame_ = 0;
    QTimer timer_;
};

// The frames of a clip, drawn afresh (they are small); empty for aviNone.
QVector<QPixmap> ClipFrames(TCommonAVI clip);
