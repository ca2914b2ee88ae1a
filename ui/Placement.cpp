#include "ui/Placement.h"

#include <QWidget>

QPoint CentredOver(const QRect& mainFrame, const QSize& outerSize) {
    return {mainFrame.left() + mainFrame.width() / 2 - outerSize.width() / 2,
            mainFrame.top() + mainFrame.height() / 2 - outerSize.height() / 2};
}

QPoint CentredBelowTop(const QRect& mainFrame, const QSize& outerSize) {
    return {mainFrame.left() + mainFrame.width() / 2 - outerSize.width() / 2, mainFrame.top()};
}

QSize OuterSize(const QWidget* window, const QWidget* reference) {
    const QSize outer = window->frameGeometry().size();
    if (outer != window->size() || !reference || (window->windowFlags() & Qt::FramelessWindowHint))
        return outer;
    return outer + (reference->frameGeometry().size() - reference->size());
}
