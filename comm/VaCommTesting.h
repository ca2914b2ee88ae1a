#pragma once
// Test-only seams of the serial port component. The program never calls these.

namespace VaCommTesting {
// Pause at the end of Close, normally 300 ms; tests with many openings shorten it.
void SetClosePause(int Ms);
int ClosePause();
// Threads of the link that have not yet ended (all ports, all openings).
int LiveThreads();
} // namespace VaCommTesting
