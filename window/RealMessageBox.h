#pragma once
// The message box as a window: the application object installs it behind ShowMessageBox.

#include "base/MessageBox.h"

// Centred on the monitor of the window that was active when it was called, which gets
// the focus back once the operator has dismissed the box.
void ShowRealMessageBox(const QString& text, const QString& caption, TMessageIcon icon);
