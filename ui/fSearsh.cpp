#include "ui/fSearsh.h"

#include "base/ErrorReport.h"
#include "ui/AppStyle.h"
#include "ui/WindowFrame.h"
#include "ui_fSearsh.h"

#include <QCloseEvent>
#include <QKeyEvent>

TformSearsh* formSearsh = nullptr;

TformSearsh::TformSearsh(QWidget* owner) : TModalForm(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("formSearsh"));
    setFont(WindowFont()); // before the controls exist, as in the main window
    Ui::TformSearsh form;
    form.setupUi(this);
    Panel1 = form.Panel1;
    Animate1 = form.Animate1;
    stRezim = form.stRezim;
    ProgressBar1 = form.ProgressBar1;
    stInfo = form.stInfo;
    BtnCancel = form.BtnCancel;

    setFixedSize(size());
    // A style-sheeted widget does not follow its parent's font.
    ProgressBar1->setFont(WindowFont());
    stRezim->setFont(WindowFont(13, true));
    stInfo->setFont(WindowFont(13, true));
    // Adopt the range of the form.
    const int designMin = ProgressBar1->minimum();
    const int designMax = ProgressBar1->maximum();
    ProgressBar1->SetMin(designMin);
    ProgressBar1->SetMax(designMax);
    ProgressBar1->SetPosition(0);
    for (QWidget* control : findChildren<QWidget*>())
        if (control != BtnCancel)
            control->setFocusPolicy(Qt::NoFocus);
    BtnCancel->setFocus();
    Animate1->SetCommonAVI(aviFindComputer);

    connect(BtnCancel, &QPushButton::clicked, this, Guarded([this] { BtnCancelClick(); }));
}

TformSearsh::~TformSearsh() {
    FireDestroy();
}

void TformSearsh::BtnCancelClick() {
    Animate1->SetActive(false);
    close();
}

void TformSearsh::CentreOver(const QWidget* mainWindow) {
    MoveFrameTo(this, ::CentredOver(OuterFrame(mainWindow), OuterSize(this, mainWindow)));
}

void TformSearsh::closeEvent(QCloseEvent* event) {
    if (!BtnCancel->isEnabledTo(this)) {
        event->ignore();
        return;
    }
    Animate1->SetActive(false);
    TModalForm::closeEvent(event);
}

void TformSearsh::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    TModalForm::keyPressEvent(event);
}
