#pragma once
// Thread identities and scheduling priorities for the serial link's threads.
//
// A priority is relative to the thread's base, the nice value it was created with (that
// of the thread that started it): -15 idle .. 0 normal (the base) .. 15 time-critical.
// The kernel lets a process raise a thread above its base only as far as RLIMIT_NICE or
// CAP_SYS_NICE allow, and an unprivileged process cannot raise a thread again once it
// has lowered it. So a priority above normal becomes the highest the process may give,
// never less than the base; one below normal is given only where it can be undone,
// otherwise the thread stays at its base. Refusals are silent.

// Kernel id of the calling thread.
int CurrentThreadId();

// Nice value of the calling thread.
int CurrentThreadNice();

// Names the calling thread as the system shows it (at most 15 bytes are kept).
void SetCurrentThreadName(const char* Name);

// The lowest nice value (highest priority) this process may give one of its threads.
int LowestAllowedNice();

// The nice value a thread with base BaseNice gets for Relative under the rules above.
int NiceForRelativePriority(int BaseNice, int Relative);

// Gives thread ThreadId (> 0) the relative priority Relative.
void SetThreadRelativePriority(int ThreadId, int BaseNice, int Relative);
