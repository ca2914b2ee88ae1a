#include "platform/ProcessStats.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

long long PeakResidentKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    long long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kib = std::strtoll(line + 6, nullptr, 10);
            break;
        }
    std::fclose(status);
    return kib;
}

namespace {

long long CpuMicroseconds(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return -1;
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

long long ProcessCpuMicroseconds() {
    return CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID);
}

long long ThreadCpuMicroseconds() {
    return CpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
}
