#pragma once
// A window that is created once and shown modally again and again: while it is up no
// other window of the application takes input, and closing it only hides it.

#include "window/Form.h"

#include <QPointer>

class QEventLoop;

class TModalForm : public TForm {
    Q_OBJECT
public:
    // The result of a modal showing ended by closing the window.
    static constexpr int mrCancel = 2;

    explicit TModalForm(QWidget* owner, Qt::WindowFlags flags);
    ~TModalForm() override;

    // Shows the window modal to the whole application and returns when it has been
    // closed (or the application is told to quit). The window is hidden again then.
    int ShowModal();
    bool InModalLoop() const { return loop_ != nullptr; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QEventLoop* loop_ = nullptr;
};
