#pragma once
// The frame the window manager has drawn around a top-level window at this moment. Under
// X11 the toolkit learns of the manager's frame extents only as it gets through its event
// queue, and keeps copies of them; this asks the X server itself (one round trip).

#include <QMargins>
#include <optional>

class QWidget;

// The frame's width on each side, as the manager has published it (_NET_FRAME_EXTENTS).
// Empty where that is not known: another platform, the window not mapped, or no extents
// published by a manager (none running, or still building the frame).
std::optional<QMargins> CurrentFrameMargins(const QWidget* window);
