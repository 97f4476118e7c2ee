#include "acquisition/WorkerThread.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "acquisition/AcquisitionWorker.h"

namespace tamix {
namespace {

#ifdef TAMIX_WORKER_STACK_BYTES
constexpr std::size_t kStackBytes = TAMIX_WORKER_STACK_BYTES;
#else
constexpr std::size_t kStackBytes = 64 * 1024;
#endif

// Real-time scheduling where permitted, else the best nice value the user may
// take; refusal is never an error.
int RaisePriority() {
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

}  // namespace

WorkerThread::~WorkerThread() {
    if (setup_ != nullptr && started_) setup_->RequestStop();
    Join();
}

void* WorkerThread::Entry(void* self) {
    auto* owner = static_cast<WorkerThread*>(self);
    owner->priority_ = RaisePriority();
    AcquisitionWorker(*owner->setup_, *owner->opener_);
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) == 0) {
        owner->cpuSeconds_ =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    owner->setup_->workerActive.store(false, std::memory_order_release);
    return nullptr;
}

StartResult WorkerThread::StartRun(MeasurementSetup& setup, FileOpener& opener) {
    Join();
    setup_ = &setup;
    opener_ = &opener;
    setup.startResult = static_cast<int>(StartResult::NoUnit);
    setup.SetStatus(RunStatus::Starting);
    setup.workerActive.store(true, std::memory_order_release);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::max<std::size_t>(kStackBytes, PTHREAD_STACK_MIN));
    const int rc = pthread_create(&thread_, &attr, &WorkerThread::Entry, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        setup.workerActive = false;
        setup.SetStatus(RunStatus::Idle);
        return StartResult::NoThread;
    }
    started_ = true;
    // The worker leaves Starting after the unit's set-up (a second or so).
    while (setup.Status() == RunStatus::Starting) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return static_cast<StartResult>(setup.startResult.load());
}

void WorkerThread::Join() {
    if (!started_) return;
    pthread_join(thread_, nullptr);
    started_ = false;
}

const char* WorkerThread::PriorityClass() const {
    switch (priority_.load()) {
        case 2:
            return "real-time";
        case 1:
            return "high";
        default:
            return "normal";
    }
}

}  // namespace tamix
