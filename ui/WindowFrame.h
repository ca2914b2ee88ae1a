#pragma once
// Where the progress and help windows go relative to the main window. Each half is an
// integer division by 2 that rounds toward zero; the result is not kept on the screen.
//
// Under a window manager the frame belongs to the manager and its extents arrive
// asynchronously. The frame's extents are therefore read from the platform window, which
// re-reads them whenever the manager announces new ones, and never from
// QWidget::frameGeometry(): the widget keeps a copy of the margins taken at its last
// move, and if that move was handled while the manager was still building the frame
// (the window already inside a 1 × 1 frame, no extents published yet) the copy describes
// a frame of almost no size, and stays until the window moves again.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Centred over the main window's outer frame.
QPoint CentredOver(const QRect& mainFrame, const QSize& outerSize);
// Centred horizontally, top edges level.
QPoint CentredBelowTop(const QRect& mainFrame, const QSize& outerSize);

// The frame's width on each side as the window system last reported it; none for a
// frameless window and none that the manager has not published yet.
QMargins FrameMargins(const QWidget* window);
// The outer frame of a top-level window: its client area widened by FrameMargins.
QRect OuterFrame(const QWidget* window);
// The size of a window with its frame. Before a window was first shown the toolkit does
// not know its frame yet; the reference window's frame stands in for it then.
QSize OuterSize(const QWidget* window, const QWidget* reference);
// Puts the window's outer frame at pos. A window not yet created is created asking the
// manager to put its frame there (north-west gravity), whatever the frame's size.
void MoveFrameTo(QWidget* window, const QPoint& pos);
