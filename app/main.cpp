// Start-up, message loop and shutdown. No command-line argument is read.

#include "app/FontConfigWarmup.h"
#include "app/PlatformChoice.h"
#include "platform/Paths.h"
#include "ui/SessionEnd.h"
#include "ui/Startup.h"
#include "ui/fMain.h"
#include "window/Application.h"
#include "window/StartupProbe.h"

int main(int argc, char** argv) {
    SelectPlatform();
    TFontConfigWarmup fontConfig;
    TApplication app(argc, argv);
    SetUpApplication(ExecutablePath());
    TSessionEnd sessionEnd; // a logout or a stop signal closes the main window
    fontConfig.Wait();      // the windows' texts are measured as they are built
    CreateWindows();
    WatchFirstExposure(formMain);
    formMain->show();
    const int exitCode = sessionEnd.RunMessageLoop();
    DestroyWindows();
    return exitCode;
}
