#include "ui/WindowFrame.h"

#include <QWidget>
#include <QWindow>

QPoint CentredOver(const QRect& mainFrame, const QSize& outerSize) {
    return {mainFrame.left() + mainFrame.width() / 2 - outerSize.width() / 2,
            mainFrame.top() + mainFrame.height() / 2 - outerSize.height() / 2};
}

QPoint CentredBelowTop(const QRect& mainFrame, const QSize& outerSize) {
    return {mainFrame.left() + mainFrame.width() / 2 - outerSize.width() / 2, mainFrame.top()};
}

QMargins FrameMargins(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if ((window->windowFlags() & Qt::FramelessWindowHint) || !handle || !handle->handle())
        return {};
    const QMargins m = handle->frameMargins();
    // A frame measured while the manager was still building it can come out negative.
    return QMargins(std::max(m.left(), 0), std::max(m.top(), 0), std::max(m.right(), 0),
                    std::max(m.bottom(), 0));
}

QRect OuterFrame(const QWidget* window) {
    // As the toolkit has it at this point of the window system's events: it follows the
    // program's own moves at once and the manager's (the operator's) in order, so a click
    // handled after a move or a change of frame sees them.
    return window->geometry().marginsAdded(FrameMargins(window));
}

QSize OuterSize(const QWidget* window, const QWidget* reference) {
    if (window->windowFlags() & Qt::FramelessWindowHint)
        return window->size();
    QMargins frame = FrameMargins(window);
    if (frame.isNull() && reference)
        frame = FrameMargins(reference);
    return window->size().grownBy(frame);
}

void MoveFrameTo(QWidget* window, const QPoint& pos) {
    if (!window->testAttribute(Qt::WA_WState_Created)) {
        // Taken as a frame position: the platform window is then created with it.
        window->move(pos);
        return;
    }
    // The widget's client position from the platform's current extents (QWidget::move()
    // would convert with the widget's own copy of them), so that showing the window does
    // not push an older position to the platform.
    const QMargins frame = FrameMargins(window);
    window->setGeometry(QRect(pos + QPoint(frame.left(), frame.top()), window->size()));
    // Last: the platform window keeps the position as its frame's, and a window manager
    // gets it with north-west gravity at the next mapping, whatever extents it then gives
    // the frame. A client position would be mapped with static gravity.
    window->windowHandle()->setFramePosition(pos);
}
