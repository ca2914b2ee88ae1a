#pragma once
// Which windowing platform the program asks the toolkit for, decided from the environment
// before the application object exists.
//
// In a Wayland session the toolkit would become a Wayland client if its Wayland plug-in is
// installed, and no Wayland client may place its own windows; through XWayland the windows
// keep their fixed places wherever the compositor lets an X11 client choose them. So a
// Wayland session with an X display runs on xcb. An explicit QT_QPA_PLATFORM (or the
// toolkit's own -platform argument) is the user's choice and is left alone.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

struct TPlatformChoice {
    // The value for QT_QPA_PLATFORM; empty to leave the toolkit's own choice.
    QByteArray platform;
    // One line for standard error; empty when there is nothing to say.
    QString notice;
};

TPlatformChoice ChoosePlatform(const QProcessEnvironment& environment);

// Applies ChoosePlatform to this process's environment and prints its notice.
void SelectPlatform();
