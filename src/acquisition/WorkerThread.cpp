#include "acquisition/WorkerThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
    owner->setup_->workerActive.store(false, std::memory_order_release);
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
    // The worker leaves Starting after the unit's set-up (a second or so). A
    // stop that arrives meanwhile also ends Starting, before the worker has
    // told how its start went: wait for that too.
    while ((setup.Status() == RunStatus::Starting || setup.startResult == kResultPending) &&
           setup.workerActive.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int result = setup.startResult.load();
    return result == kResultPending ? StartResult::NoUnit : static_cast<StartResult>(result);
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
