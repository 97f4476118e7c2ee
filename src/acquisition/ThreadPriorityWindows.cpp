// The worker thread's priority and CPU time on Windows: the top priority of
// the process's class (time critical), and the kernel's per-thread times.
#include <windows.h>

#include "acquisition/ThreadPriority.h"

namespace tamix {

int RaiseThreadPriority() {
    // Time critical inside the normal class: above every ordinary thread,
    // below the real-time class, which would starve the system's own input.
    return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) ? 1 : 0;
}

double ThisThreadCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    // FILETIME counts 100 ns.
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

std::size_t MinimumThreadStackBytes() {
    return 16 * 1024;
}

}  // namespace tamix
