#pragma once
// Whether the standard error stream is a terminal that can show an updating line.

bool StandardErrorIsTerminal();
