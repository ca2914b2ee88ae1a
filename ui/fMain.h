#pragma once
// The main window: tool bar with the file and device operations and the port choice,
// the description of the loaded program file, and writing the program into the device.

#include "comm/VaComm.h"
#include "programmer/ProgramFiles.h"
#include "ui/Controls.h"
#include "ui/FileDialogs.h"
#include "window/Form.h"

class QGroupBox;
class TDeviceRunWindows;
class TFormStorage;
class QPushButton;
class QToolButton;

class TformMain : public TForm, public TProgramFileView {
    Q_OBJECT
public:
    explicit TformMain(QWidget* parent = nullptr);
    ~TformMain() override;

    // Controls, named as their objects.
    TPanel* Panel1;
    QToolButton* BtnOpen;
    QToolButton* BtnSaveAs;
    QToolButton* BtnRead;
    QToolButton* BtnVerify;
    TComboBox* cbPort;
    QToolButton* btnHelp;
    QGroupBox* GroupBox2;
    TStaticText* StaticText1;
    TStaticText* StaticText2;
    TStaticText* StaticText3;
    TStaticText* stNameFile;
    TStaticText* stSizeFile;
    TStaticText* stKolSect;
    QGroupBox* GroupBox1;
    TCheckBox* cbCheck;
    QPushButton* BtnWrite;

    TOpenDialog* OpenDialog1;
    TSaveDialog* SaveDialog1;
    TVaComm* VaComm1;
    TFormStorage* FormStorage1; // keeps cbCheck, cbPort and OpenDialog1 between runs

    // Where the outer frame goes at every showing.
    static constexpr QPoint StartPosition{433, 301};

    void BtnOpenClick();
    void BtnSaveAsClick();
    void BtnReadClick();
    void BtnWriteClick();
    void BtnVerifyClick();
    void cbPortChange();
    void btnHelpClick();
    void FormShow(QObject* Sender);
    void FormClose(QObject* Sender);
    void VaComm1RxChar(QObject* Sender, int Count);
    // A device run is moving sectors (it closes the port itself when it ends).
    bool TransferRunning() const;

    // TProgramFileView
    void SetProgramCaptions(const QString& name, const QString& size,
                            const QString& sectors) override;
    void SetProgramNameHint(const QString& hint) override;
    void ShowNotice(const TNotice& Notice) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The device runs' sequencing and its view on the windows.
    TDeviceRunWindows* DeviceRun_;
};

extern TformMain* formMain;
