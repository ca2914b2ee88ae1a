#pragma once
// Thread identities and scheduling priorities for the serial link's threads.

// Kernel id of the calling thread.
int CurrentThreadId();

// Gives a thread a relative priority (-15 idle .. 0 normal .. 15 time-critical) as a
// nice value. Raising above normal needs privilege; without it the thread stays normal.
void SetThreadRelativePriority(int ThreadId, int Relative);
