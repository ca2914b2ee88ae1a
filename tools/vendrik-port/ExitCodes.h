#pragma once
// Exit codes of vendrik-port, and the one table of what they mean: --help lists it, a
// test holds the manual page against it.

#include "platform/ExitCodeHelp.h"

enum TPortExitCode { ExitOk = 0, ExitFault = 1, ExitRefused = 2, ExitFailed = 3 };

TExitCodeMeanings PortExitCodeMeanings();
