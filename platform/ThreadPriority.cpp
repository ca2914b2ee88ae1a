#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <linux/capability.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
constexpr int HighestNice = -20;
constexpr int LowestNice = 19;

bool HasCapSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32));
}

// Nice offset of a relative priority.
int NiceOffset(int Relative) {
    if (Relative <= -15)
        return LowestNice - HighestNice; // idle: the lowest there is
    if (Relative >= 15)
        return HighestNice - LowestNice; // time-critical: the highest allowed
    return -5 * Relative;
}

bool SetNice(int ThreadId, int Nice) {
    return ::setpriority(PRIO_PROCESS, id_t(ThreadId), Nice) == 0;
}
} // namespace

int CurrentThreadId() {
    return int(::syscall(SYS_gettid));
}

int CurrentThreadNice() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(CurrentThreadId()));
    return errno == 0 ? nice : 0;
}

void SetCurrentThreadName(const char* Name) {
    char name[16] = {};
    for (int i = 0; i < 15 && Name[i]; ++i)
        name[i] = Name[i];
    ::pthread_setname_np(::pthread_self(), name);
}

int LowestAllowedNice() {
    if (HasCapSysNice())
        return HighestNice;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0)
        return LowestNice + 1;
    // The limit is 20 - the lowest nice value allowed.
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= rlim_t(20 - HighestNice))
        return HighestNice;
    return 20 - int(limit.rlim_cur);
}

int NiceForRelativePriority(int BaseNice, int Relative) {
    const int wanted = std::clamp(BaseNice + NiceOffset(Relative), HighestNice, LowestNice);
    const int lowest = LowestAllowedNice();
    if (wanted > BaseNice)
        return lowest <= BaseNice ? wanted : BaseNice; // lowered only where it can be undone
    return std::min(BaseNice, std::max(wanted, lowest));
}

void SetThreadRelativePriority(int ThreadId, int BaseNice, int Relative) {
    if (ThreadId <= 0)
        return;
    // The kernel may still refuse what the limits seem to allow (a container, a security
    // module); the thread then goes back to its base.
    if (!SetNice(ThreadId, NiceForRelativePriority(BaseNice, Relative)))
        SetNice(ThreadId, BaseNice);
}
