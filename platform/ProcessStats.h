#pragma once
// The process's own resource figures, as the kernel keeps them.

// Peak resident set size so far (VmHWM) in KiB; -1 where the kernel does not say.
long long PeakResidentKiB();

// Processor time used so far, in microseconds: by the whole process (all its threads),
// and by the calling thread alone.
long long ProcessCpuMicroseconds();
long long ThreadCpuMicroseconds();
