#pragma once
// A small window shaped like the main one: a check box publishing Checked, a list
// publishing Tag, a dialog object publishing FileName, and a FormStorage1 keeping them.

#include "storage/Placemnt.h"
#include "window/Form.h"

#include <QCheckBox>
#include <QComboBox>

class TestCheckBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ isChecked WRITE setChecked)
public:
    using QCheckBox::QCheckBox;
};

class TestComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(int Tag MEMBER Tag)
public:
    using QComboBox::QComboBox;
    int Tag = 0;
};

class TestDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString FileName MEMBER FileName)
    Q_PROPERTY(Mode Kind MEMBER Kind)
    Q_PROPERTY(double Ratio MEMBER Ratio)
public:
    enum Mode { Alpha = 0, Beta = 5, Gamma = 2 };
    Q_ENUM(Mode)
    using QObject::QObject;
    QString FileName;
    Mode Kind = Alpha;
    double Ratio = 0.5;
};

class TTestWindow : public TForm {
    Q_OBJECT
public:
    struct Seen {
        bool checked;
        int tag;
        QString fileName;
    };

    explicit TTestWindow(const QString& executable = QStringLiteral("/usr/bin/Vendrik")) {
        cbCheck = new TestCheckBox(this);
        cbCheck->setObjectName("cbCheck");
        cbPort = new TestComboBox(this);
        cbPort->setObjectName("cbPort");
        OpenDialog1 = new TestDialog(this);
        OpenDialog1->setObjectName("OpenDialog1");
        OnShow = [this](QObject*) {
            shown.append({cbCheck->isChecked(), cbPort->Tag, OpenDialog1->FileName});
        };
        OnClose = [this](QObject*) { ++closes; };
        OnCloseQuery = [this](QObject*, bool& canClose) {
            if (refuseClose)
                canClose = false;
        };
        FormStorage1 = new TFormStorage(this);
        FormStorage1->setObjectName("FormStorage1");
        FormStorage1->UseRegistry = true;
        FormStorage1->Options = {};
        FormStorage1->StoredProps = {"cbCheck.Checked", "cbPort.Tag", "OpenDialog1.FileName"};
        FormStorage1->SetExecutablePath(executable);
        FormStorage1->Loaded();
    }
    ~TTestWindow() override { FireDestroy(); }

    TestCheckBox* cbCheck;
    TestComboBox* cbPort;
    TestDialog* OpenDialog1;
    TFormStorage* FormStorage1;
    QList<Seen> shown; // what the window's own show handler found
    int closes = 0;
    bool refuseClose = false;
};
