#pragma once
// A start of the program as main makes it, for tests that need the program's windows:
// the application set up and formMain, formSearsh and formHelp created by the program's
// own start-up functions, so a test never meets windows built differently from the ones
// the operator gets. Header-only: the test links the windows' library itself.

#include "storage/Placemnt.h"
#include "ui/Startup.h"
#include "ui/fMain.h"

#include <memory>

// Ends the program's windows as main does.
struct TProgramWindowsEnd {
    void operator()(TformMain*) const { DestroyWindows(); }
};
// formMain, owning the other two windows: resetting it destroys all three.
using TProgramWindows = std::unique_ptr<TformMain, TProgramWindowsEnd>;

// The title and the settings key come from `executable`, as from the real executable's
// path at a real start. The windows are created hidden.
inline TProgramWindows
CreateProgramWindows(const QString& executable = QStringLiteral("/usr/bin/Vendrik")) {
    SetUpApplication(executable);
    CreateWindows();
    formMain->FormStorage1->SetExecutablePath(executable);
    return TProgramWindows(formMain);
}

// CreateProgramWindows and the main window shown, as main shows it before its loop.
inline TProgramWindows
StartProgram(const QString& executable = QStringLiteral("/usr/bin/Vendrik")) {
    TProgramWindows windows = CreateProgramWindows(executable);
    windows->show();
    return windows;
}
