#pragma once
// A hook for the start-up benchmark. With STARTUP_PROBE set in the environment, the
// first time the window is exposed on screen (mapped and painted) the program prints
//   exposed <peak resident KiB> <processor time so far> <the same, this thread only>
// (times in microseconds) on standard output and quits. The window's own thread is the
// one that builds, shows and paints it. Without the variable it does nothing.

class QWidget;

void WatchFirstExposure(QWidget* window);
