#pragma once
// The one message box every part of the program uses: text, caption, icon, a single
// OK button, modal to the whole application. Tests replace it to record what is shown.

#include <QString>
#include <functional>

enum class MsgIcon { None, Warning, Error };

// Returns once the operator has dismissed the box.
void ShowMessageBox(const QString& text, const QString& caption, MsgIcon icon);

using MessageBoxHandler =
    std::function<void(const QString& text, const QString& caption, MsgIcon icon)>;

// Replaces the box; an empty handler restores the real one. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
