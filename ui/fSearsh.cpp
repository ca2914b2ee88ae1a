#include "ui/fSearsh.h"

#include "ui/AppStyle.h"
#include "ui/Placement.h"
#include "ui_fSearsh.h"

#include <QKeyEvent>

TformSearsh* formSearsh = nullptr;

TformSearsh::TformSearsh(QWidget* owner)
    : TModalForm(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("formSearsh"));
    Ui::TformSearsh form;
    form.setupUi(this);
    Panel1 = form.Panel1;
    Animate1 = form.Animate1;
    stRezim = form.stRezim;
    ProgressBar1 = form.ProgressBar1;
    stInfo = form.stInfo;
    BtnCancel = form.BtnCancel;

    setFont(WindowFont());
    setFixedSize(size());
    stRezim->setFont(WindowFont(13, true));
    stInfo->setFont(WindowFont(13, true));
    ProgressBar1->SetMin(ProgressBar1->minimum());
    ProgressBar1->SetMax(ProgressBar1->maximum());
    ProgressBar1->SetPosition(0);
    for (QWidget* control : findChildren<QWidget*>())
        if (control != BtnCancel)
            control->setFocusPolicy(Qt::NoFocus);
    BtnCancel->setFocus();
    Animate1->SetCommonAVI(aviFindComputer);

    connect(BtnCancel, &QPushButton::clicked, this, [this] { BtnCancelClick(); });
}

TformSearsh::~TformSearsh() { FireDestroy(); }

void TformSearsh::BtnCancelClick() {
    Animate1->SetActive(false);
    close();
}

void TformSearsh::CentreOver(const QWidget* mainWindow) {
    move(::CentredOver(mainWindow->frameGeometry(), OuterSize(this, mainWindow)));
}

void TformSearsh::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    TModalForm::keyPressEvent(event);
}
