#include "ui/Controls.h"

#include <QEvent>
#include <QPainter>

TPanel::TPanel(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    auto bevel = [&p](QRect r, const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    };
    const QRect outer = rect();
    bevel(outer, pal.color(QPalette::Light), pal.color(QPalette::Dark));
    bevel(outer.adjusted(1, 1, -1, -1), pal.color(QPalette::Dark), pal.color(QPalette::Light));
}

TStaticText::TStaticText(QWidget* parent) : QLabel(parent) {
    setFocusPolicy(Qt::NoFocus);
    setTextFormat(Qt::PlainText);
}

void TStaticText::SetCaption(const QString& caption) {
    setText(caption);
    resize(fontMetrics().horizontalAdvance(caption) + 2 * margin(), height());
}

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    Apply();
}

bool TProgressBar::event(QEvent* event) {
    const bool handled = QProgressBar::event(event);
    // The segments come from a style sheet, whose machinery is heavy to set up: it is
    // applied when the bar is first polished (shown or rendered), not at creation, so a
    // bar that stays hidden costs nothing.
    if (event->type() == QEvent::Polish && styleSheet().isEmpty())
        setStyleSheet(QStringLiteral(
            "QProgressBar { border: 1px solid palette(mid); background: palette(window); }"
            "QProgressBar::chunk { background: palette(highlight); width: 6px; margin: 1px; }"));
    return handled;
}

void TProgressBar::SetMin(int value) {
    min_ = value;
    Apply();
}

void TProgressBar::SetMax(int value) {
    max_ = value;
    Apply();
}

void TProgressBar::SetPosition(int value) {
    position_ = value;
    Apply();
}

void TProgressBar::Apply() {
    const int top = max_ > min_ ? max_ : min_ + 1;
    setRange(min_, top);
    // An empty range has nothing to fill until the position runs past it.
    const int shown = max_ > min_ ? qBound(min_, position_, max_) : (position_ > max_ ? top : min_);
    setValue(shown);
}
