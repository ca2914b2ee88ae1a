#include "ui/fMain.h"

#include "base/ErrorReport.h"
#include "programmer/DevicePort.h"
#include "programmer/ImageCompare.h"
#include "programmer/ProgramImage.h"
#include "storage/Placemnt.h"
#include "ui/AppStyle.h"
#include "ui/DeviceRunWindows.h"
#include "ui/NoticeBox.h"
#include "ui/Pictures.h"
#include "ui/WindowFrame.h"
#include "ui/fHelp.h"
#include "ui_fMain.h"

#include <QShowEvent>

TformMain* formMain = nullptr;

TformMain::TformMain(QWidget* parent)
    : TForm(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("formMain"));
    // Before the controls exist, so that none of them measures text in the default font.
    setFont(WindowFont());
    Ui::TformMain form;
    form.setupUi(this);
    Panel1 = form.Panel1;
    BtnOpen = form.BtnOpen;
    BtnSaveAs = form.BtnSaveAs;
    BtnRead = form.BtnRead;
    BtnVerify = form.BtnVerify;
    cbPort = form.cbPort;
    btnHelp = form.btnHelp;
    GroupBox2 = form.GroupBox2;
    StaticText1 = form.StaticText1;
    StaticText2 = form.StaticText2;
    StaticText3 = form.StaticText3;
    stNameFile = form.stNameFile;
    stSizeFile = form.stSizeFile;
    stKolSect = form.stKolSect;
    GroupBox1 = form.GroupBox1;
    cbCheck = form.cbCheck;
    BtnWrite = form.BtnWrite;

    BtnOpen->setIcon(PictureIcon(QStringLiteral("open")));
    BtnSaveAs->setIcon(PictureIcon(QStringLiteral("saveas")));
    BtnRead->setIcon(PictureIcon(QStringLiteral("read")));
    BtnVerify->setIcon(PictureIcon(QStringLiteral("verify")));
    btnHelp->setIcon(PictureIcon(QStringLiteral("help")));
    setFixedSize(size());
    // Before the platform window exists: it is then created asking the window manager to
    // put the frame, not the client area, at this position.
    move(StartPosition);
    for (QWidget* control : findChildren<QWidget*>())
        if (!control->toolTip().isEmpty())
            control->setToolTipDuration(ToolTipDurationMs);
    cbPort->setCurrentIndex(-1);
    cbCheck->setFocus();

    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->SetFilter(QStringLiteral("*.bin|*.bin"));
    SaveDialog1 = new TSaveDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->SetFilter(QStringLiteral("*.bin|*.bin"));
    SaveDialog1->SetDefaultExt(QStringLiteral("bin"));

    VaComm1 = new TVaComm(this);
    VaComm1->setObjectName(QStringLiteral("VaComm1"));
    ConfigureDevicePort(*VaComm1);
    VaComm1->OnRxChar = [this](QObject* Sender, int Count) { VaComm1RxChar(Sender, Count); };
    DeviceRun_ = new TDeviceRunWindows(this, *VaComm1);

    connect(BtnOpen, &QToolButton::clicked, this, Guarded([this] { BtnOpenClick(); }));
    connect(BtnSaveAs, &QToolButton::clicked, this, Guarded([this] { BtnSaveAsClick(); }));
    connect(BtnRead, &QToolButton::clicked, this, Guarded([this] { BtnReadClick(); }));
    connect(BtnVerify, &QToolButton::clicked, this, Guarded([this] { BtnVerifyClick(); }));
    connect(btnHelp, &QToolButton::clicked, this, Guarded([this] { btnHelpClick(); }));
    connect(BtnWrite, &QPushButton::clicked, this, Guarded([this] { BtnWriteClick(); }));
    // Only the user's choice: a selection made by the program must not touch Tag.
    connect(cbPort, &QComboBox::activated, this, Guarded([this] { cbPortChange(); }));

    OnShow = Guarded([this](QObject* sender) { FormShow(sender); });
    OnClose = Guarded([this](QObject* sender) { FormClose(sender); });

    // Last, so that it chains the window's own hooks.
    FormStorage1 = new TFormStorage(this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->UseRegistry = true;
    FormStorage1->Options = {};
    FormStorage1->StoredProps = {"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"};
    FormStorage1->Loaded();
}

TformMain::~TformMain() {
    FireDestroy();
}

void TformMain::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        MoveFrameTo(this, StartPosition);
    TForm::showEvent(event);
}

void TformMain::BtnOpenClick() {
    // The windows keep the operator away during a transfer; a click that still gets here
    // must not replace the image being sent.
    if (DeviceRun_->Run().TransferRunning())
        return;
    if (OpenDialog1->Execute())
        LoadProgramFile(*this, OpenDialog1->FileName());
}

void TformMain::BtnSaveAsClick() {
    if (DeviceRun_->Run().TransferRunning())
        return;
    SaveDialog1->SetInitialDir(OpenDialog1->InitialDir());
    if (SaveDialog1->Execute())
        SaveDeviceImageAs(*this, SaveDialog1->FileName());
    else
        SaveDeviceImageAs(*this, std::nullopt);
}

void TformMain::BtnReadClick() {
    DeviceRun_->Run().StartRead();
}

void TformMain::BtnWriteClick() {
    DeviceRun_->Run().StartWrite();
}

void TformMain::BtnVerifyClick() {
    ShowNoticeBox(CompareNotice(CompareImages()));
}

void TformMain::VaComm1RxChar(QObject* /*Sender*/, int /*Count*/) {
    DeviceRun_->Run().Received();
}

bool TformMain::TransferRunning() const {
    return DeviceRun_->Run().TransferRunning();
}

void TformMain::cbPortChange() {
    cbPort->SetTag(cbPort->currentIndex());
}

void TformMain::btnHelpClick() {
    if (!formHelp)
        return;
    MoveFrameTo(formHelp, CentredBelowTop(OuterFrame(this), OuterSize(formHelp, this)));
    formHelp->ShowModal();
}

void TformMain::FormShow(QObject* /*Sender*/) {
    ProgramLoaded = false;
    cbPort->SetItemIndex(cbPort->Tag());
    if (!LoadRememberedProgram(*this, OpenDialog1->FileName()))
        OpenDialog1->SetInitialDir(QString());
}

void TformMain::FormClose(QObject* /*Sender*/) {
    // Closes the port, ignoring failures; a transfer still running is told to stop and
    // closes the port itself.
    DeviceRun_->Run().MainWindowClosing();
}

void TformMain::SetProgramCaptions(const QString& name, const QString& size,
                                   const QString& sectors) {
    stNameFile->SetCaption(name);
    stSizeFile->SetCaption(size);
    stKolSect->SetCaption(sectors);
}

void TformMain::SetProgramNameHint(const QString& hint) {
    stNameFile->setToolTip(hint);
}

void TformMain::ShowNotice(const TNotice& Notice) {
    ShowNoticeBox(Notice);
}
