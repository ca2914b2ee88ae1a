#include "ui/fHelp.h"

#include "ui/AppStyle.h"
#include "ui_fHelp.h"

#include <QFile>
#include <QPlainTextEdit>

TformHelp* formHelp = nullptr;

QString HelpText() {
    QFile file(QStringLiteral(":/ui/help.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

TformHelp::TformHelp(QWidget* owner)
    : TModalForm(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("formHelp"));
    setFont(WindowFont()); // before the controls exist, as in the main window
    Ui::TformHelp form;
    form.setupUi(this);
    Memo1 = form.Memo1;
    setFixedSize(size());
    Memo1->setPlainText(HelpText());
}

TformHelp::~TformHelp() {
    FireDestroy();
}

void TformHelp::showEvent(QShowEvent* event) {
    TModalForm::showEvent(event);
    Memo1->setFocus();
}
