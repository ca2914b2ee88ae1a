#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int CurrentThreadId() { return int(::syscall(SYS_gettid)); }

void SetThreadRelativePriority(int ThreadId, int Relative) {
    int nice = 0;
    if (Relative <= -15)
        nice = 19;
    else if (Relative >= 15)
        nice = -20;
    else
        nice = -5 * Relative;
    if (ThreadId > 0)
        ::setpriority(PRIO_PROCESS, id_t(ThreadId), nice);
}
