#include "ui/ModalForm.h"

#include "base/ProgramError.h"

#include <QApplication>
#include <QEventLoop>

TModalForm::TModalForm(QWidget* owner, Qt::WindowFlags flags) : TForm(owner, flags) {}

TModalForm::~TModalForm() {
    if (loop_)
        loop_->quit();
}

int TModalForm::ShowModal() {
    if (loop_ || isVisible())
        throw EProgramError(QStringLiteral("Cannot make a visible window modal"));
    QPointer<QWidget> previouslyActive = QApplication::activeWindow();
    QPointer<TModalForm> self(this);

    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    loop_ = &loop;
    show();
    // Hiding (closing) ends the loop; so does QCoreApplication::exit().
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (!self)
        return mrCancel;
    loop_ = nullptr;
    hide();
    setWindowModality(Qt::NonModal);
    if (previouslyActive && previouslyActive != this)
        previouslyActive->activateWindow();
    return mrCancel;
}

void TModalForm::hideEvent(QHideEvent* event) {
    TForm::hideEvent(event);
    if (loop_)
        loop_->quit();
}
