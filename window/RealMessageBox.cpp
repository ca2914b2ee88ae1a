#include "window/RealMessageBox.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <xcb/xcb.h>

namespace {

// The frame as the window system last reported it; none for a window not yet framed.
QMargins KnownFrame(const QWidget* window) {
    const QWindow* handle = window ? window->windowHandle() : nullptr;
    if (!handle || !handle->handle() || (window->windowFlags() & Qt::FramelessWindowHint))
        return {};
    const QMargins m = handle->frameMargins();
    return QMargins(std::max(m.left(), 0), std::max(m.top(), 0), std::max(m.right(), 0),
                    std::max(m.bottom(), 0));
}

// Keeps the box's outer frame, not its client area, on the middle of the monitor. The
// box's own frame is unknown until the window manager has framed it; the frame of the
// window that was active stands in for it, and once the box's frame turns out otherwise
// (nothing was framed yet at start-up) the box is moved once more.
class TCentring : public QObject {
public:
    TCentring(QWidget* box, const QPoint& centre, const QMargins& assumed)
        : box_(box), centre_(centre), frame_(assumed) {
        box_->move(FrameTopLeft()); // before the platform window exists: a frame position
        box_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Move && box_->isVisible()) {
            const QMargins frame = KnownFrame(box_);
            if (!frame.isNull() && frame != frame_) {
                frame_ = frame;
                box_->windowHandle()->setFramePosition(FrameTopLeft());
            }
        }
        return false;
    }

private:
    QPoint FrameTopLeft() const {
        const QSize outer = box_->size().grownBy(frame_);
        return centre_ - QPoint(outer.width() / 2, outer.height() / 2);
    }
    QWidget* box_;
    QPoint centre_;
    QMargins frame_;
};

// Qt's xcb platform never leaves a title empty: it puts the application's name in
// instead. An empty caption is written over it once the platform window exists.
void KeepTitleEmpty(QWidget* box) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* c = x11->connection();
    const auto window = xcb_window_t(box->winId());
    const char netWmName[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, false, sizeof netWmName - 1, netWmName), nullptr);
    const char utf8[] = "UTF8_STRING";
    xcb_intern_atom_reply_t* type =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, sizeof utf8 - 1, utf8), nullptr);
    if (atom && type)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom->atom, type->atom, 8, 0, "");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        "");
    std::free(atom);
    std::free(type);
    xcb_flush(c);
}

} // namespace

void ShowRealMessageBox(const QString& text, const QString& caption, TMessageIcon icon) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == TMessageIcon::Error     ? QMessageBox::Critical
                : icon == TMessageIcon::Warning ? QMessageBox::Warning
                                                : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    QWidget* active = QApplication::activeWindow();
    QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
    box.adjustSize();
    std::optional<TCentring> centring;
    if (screen)
        centring.emplace(&box, screen->geometry().center(), KnownFrame(active));
    if (caption.isEmpty())
        KeepTitleEmpty(&box);
    box.exec();
    if (active)
        active->activateWindow();
}
