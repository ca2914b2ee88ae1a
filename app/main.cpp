// Start-up, message loop and shutdown. No command-line argument is read.

#include "app/Application.h"
#include "app/ErrorReport.h"
#include "platform/Paths.h"
#include "ui/AppStyle.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QIcon>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    SetApplicationTitle(TitleFromExecutable(ExecutablePath()));
    // The title names the one task-bar entry. It is not set as the display name: the
    // toolkit would append that to every window caption.
    QCoreApplication::setApplicationName(ApplicationTitle());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/vendrik.png")));
    InstallVendrikStyle();

    // The progress and help windows belong to the main window, so only it has a
    // task-bar entry; all three live until the program ends.
    formMain = new TformMain;
    formSearsh = new TformSearsh(formMain);
    formHelp = new TformHelp(formMain);
    formMain->show();
    QApplication::exec();

    delete formHelp;
    formHelp = nullptr;
    delete formSearsh;
    formSearsh = nullptr;
    delete formMain;
    formMain = nullptr;
    return 0;
}
