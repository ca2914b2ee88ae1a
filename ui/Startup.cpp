#include "ui/Startup.h"

#include "app/ErrorReport.h"
#include "ui/AppStyle.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QApplication>
#include <QIcon>
#include <QToolTip>

void SetUpApplication(const QString& executablePath) {
    SetApplicationTitle(TitleFromExecutable(executablePath));
    // The title names the task-bar entry. It is not made the display name: the toolkit
    // would append that to every window caption.
    QCoreApplication::setApplicationName(ApplicationTitle());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ui/icons/vendrik.png")));
    InstallVendrikStyle();
    QToolTip::setFont(WindowFont());
}

void CreateWindows() {
    formMain = new TformMain;
    formSearsh = new TformSearsh(formMain);
    formHelp = new TformHelp(formMain);
}

void DestroyWindows() {
    delete formHelp;
    formHelp = nullptr;
    delete formSearsh;
    formSearsh = nullptr;
    delete formMain;
    formMain = nullptr;
}
