#pragma once
// The one message box every part of the program uses: text, caption, icon, a single
// OK button, modal to the whole application. Only the declaration and the dispatch live
// here, over Qt Core: the window program installs the real box when its application
// object is made, tests put a recorder in front of it, and a program without windows
// gets the box written to its standard error.

#include <QString>
#include <functional>

enum class TMessageIcon { None, Warning, Error };

// Returns once the box has been dealt with (for the real box: dismissed by the operator).
void ShowMessageBox(const QString& text, const QString& caption, TMessageIcon icon);

using MessageBoxHandler =
    std::function<void(const QString& text, const QString& caption, TMessageIcon icon)>;

// How a box is shown when no handler replaces it: the window program installs the real
// box when its application object is made; an empty one restores writing the box to
// standard error. Returns the previous one.
MessageBoxHandler InstallMessageBox(MessageBoxHandler box);

// Replaces the installed box for a while (tests and benches record or answer boxes with
// it); an empty handler puts the installed box back. Returns the previous handler, so
// that a temporary one can restore it.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The box as a line on standard error ("caption: text"), through Qt's message handler:
// an error box is a critical message, a warning a warning, a box without icon an
// information.
void WriteMessageBoxToLog(const QString& text, const QString& caption, TMessageIcon icon);
