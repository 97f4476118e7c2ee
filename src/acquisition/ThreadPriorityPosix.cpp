// The worker thread's priority and CPU time on Linux: SCHED_FIFO where
// permitted, else the best nice value RLIMIT_NICE allows.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>

#include "acquisition/ThreadPriority.h"

namespace tamix {

int RaiseThreadPriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return 2;
    rlimit limit{};
    int best = 0;
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        best = 20 - static_cast<int>(limit.rlim_cur);
    }
    for (int nice = -20; nice < 0; ++nice) {
        if (nice < best) continue;
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0) return 1;
    }
    return 0;
}

double ThisThreadCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0.0;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::size_t MinimumThreadStackBytes() {
    return PTHREAD_STACK_MIN;
}

}  // namespace tamix
