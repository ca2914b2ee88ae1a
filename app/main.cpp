// Start-up, message loop and shutdown. No command-line argument is read.

#include "app/Application.h"
#include "platform/Paths.h"
#include "ui/Startup.h"
#include "ui/fMain.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    SetUpApplication(ExecutablePath());
    CreateWindows();
    formMain->show();
    QApplication::exec();
    DestroyWindows();
    return 0;
}
