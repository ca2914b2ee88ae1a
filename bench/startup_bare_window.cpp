// The floor of the start-up benchmark: a bare window of the main window's size, built
// with the same toolkit and flags, reporting its first exposure the same way.

#include "window/StartupProbe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(258, 236); // the main window's client area
    WatchFirstExposure(&window);
    window.show();
    return QApplication::exec();
}
