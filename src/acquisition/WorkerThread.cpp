#include "acquisition/WorkerThread.h"

#include <algorithm>

#include "acquisition/AcquisitionWorker.h"
#include "acquisition/ThreadPriority.h"

namespace tamix {
namespace {

#ifdef TAMIX_WORKER_STACK_BYTES
constexpr std::size_t kStackBytes = TAMIX_WORKER_STACK_BYTES;
#else
constexpr std::size_t kStackBytes = 64 * 1024;
#endif

// In startResult until the worker has set it.
constexpr int kResultPending = -1;

}  // namespace

WorkerThread::~WorkerThread() {
    if (setup_ != nullptr && started_) setup_->RequestStop();
    Join();
}

void* WorkerThread::Entry(void* self) {
    auto* owner = static_cast<WorkerThread*>(self);
    owner->priority_ = RaiseThreadPriority();
    AcquisitionWorker(*owner->setup_, *owner->opener_);
    owner->cpuSeconds_ = ThisThreadCpuSeconds();
    MeasurementSetup& setup = *owner->setup_;
    setup.workerActive.store(false, std::memory_order_release);
    // A worker that ended without a word on its start found no unit.
    int pending = kResultPending;
    if (setup.startResult.compare_exchange_strong(pending, static_cast<int>(StartResult::NoUnit))) {
        setup.startResult.notify_all();
    }
    return nullptr;
}

StartResult WorkerThread::StartRun(MeasurementSetup& setup, FileOpener& opener) {
    Join();
    setup_ = &setup;
    opener_ = &opener;
    setup.startResult = kResultPending;
    setup.SetStatus(RunStatus::Starting);
    setup.workerActive.store(true, std::memory_order_release);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::max(kStackBytes, MinimumThreadStackBytes()));
    const int rc = pthread_create(&thread_, &attr, &WorkerThread::Entry, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        setup.workerActive = false;
        setup.startResult = static_cast<int>(StartResult::NoThread);
        setup.SetStatus(RunStatus::Idle);
        return StartResult::NoThread;
    }
    started_ = true;
    // The worker leaves Starting after the unit's set-up (a second or so) and
    // then reports, also when a stop arrived meanwhile; one wake-up, no polling.
    setup.AwaitStartReport(kResultPending);
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
