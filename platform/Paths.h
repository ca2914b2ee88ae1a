#pragma once
// Where the program keeps its per-user files.

#include <QString>

// ${XDG_CONFIG_HOME:-$HOME/.config}/vendrik, read afresh at every call (tests move it).
QString VendrikConfigDir();

// Full path of the running executable.
QString ExecutablePath();
