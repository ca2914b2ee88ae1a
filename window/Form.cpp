#include "window/Form.h"

#include <QCloseEvent>
#include <QShowEvent>

TForm::TForm(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous() && OnShow)
        OnShow(this);
}

void TForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    if (OnClose)
        OnClose(this);
    event->accept();
}

void TForm::FireDestroy() {
    if (destroyFired_)
        return;
    destroyFired_ = true;
    if (OnDestroy)
        OnDestroy(this);
}
