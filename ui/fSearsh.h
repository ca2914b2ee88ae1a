#pragma once
// The progress window of a device run: an animation, the mode and status lines, the
// progress bar and the Close button. Borderless; the caller places it (CentreOver) and
// shows it modally.

#include "ui/Animate.h"
#include "ui/Controls.h"
#include "ui/ModalForm.h"

class QLabel;
class QPushButton;

class TformSearsh : public TModalForm {
    Q_OBJECT
public:
    explicit TformSearsh(QWidget* owner = nullptr);
    ~TformSearsh() override;

    TPanel* Panel1;
    TAnimate* Animate1;
    QLabel* stRezim;
    TProgressBar* ProgressBar1;
    QLabel* stInfo;
    QPushButton* BtnCancel;

    // Stops the animation and closes the window; nothing else.
    void BtnCancelClick();

    // Centres the window over the main window's outer frame.
    void CentreOver(const QWidget* mainWindow);

protected:
    // The window is not bound to Escape: closing is the button's business alone.
    void keyPressEvent(QKeyEvent* event) override;
    // The platform's close command (Alt+F4, the window manager's close) does what the
    // Close button does, and nothing while the button is disabled: a transfer runs and
    // the window stays until it has ended.
    void closeEvent(QCloseEvent* event) override;
};

extern TformSearsh* formSearsh;
