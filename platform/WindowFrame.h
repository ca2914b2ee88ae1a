#pragma once
// Where the window system has a top-level window's outer frame at this moment. Under X11
// the frame belongs to the window manager, and the toolkit learns of the manager's moves
// and extents only as it gets through its event queue, which on a busy machine can lag
// behind. This asks the X server itself (one round trip), so a placement made from it does
// not depend on how far the toolkit has got.

#include <QMargins>
#include <QRect>
#include <optional>

class QWidget;

// Empty where the answer is not known: another platform, the window not mapped, or no
// frame extents published by a manager (none running, or still building the frame).
std::optional<QRect> CurrentOuterFrame(const QWidget* window);
// The frame's width on each side, as the manager has published it (_NET_FRAME_EXTENTS).
std::optional<QMargins> CurrentFrameMargins(const QWidget* window);
