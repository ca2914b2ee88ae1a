#pragma once
// Where the progress and help windows go relative to the main window. Each half is an
// integer division by 2 that rounds toward zero; the result is not kept on the screen.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Centred over the main window's outer frame.
QPoint CentredOver(const QRect& mainFrame, const QSize& outerSize);
// Centred horizontally, top edges level.
QPoint CentredBelowTop(const QRect& mainFrame, const QSize& outerSize);

// The size of a window with its frame. Before a window was first shown the toolkit does
// not know its frame yet; the reference window's frame stands in for it then.
QSize OuterSize(const QWidget* window, const QWidget* reference);
