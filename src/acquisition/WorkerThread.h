// Owns the acquisition worker's thread: created with a small stack at the
// highest priority the system grants, joined before a new run starts and when
// the owner goes away, so that no worker outlives the file it writes.
// User interface thread only.
#pragma once

#include <pthread.h>

#include <functional>

#include "acquisition/MeasurementSetup.h"
#include "recording/OutputFile.h"

namespace tamix {

class WorkerThread {
  public:
    WorkerThread() = default;
    // Requests a stop of a running measurement and waits for the worker.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Sets Starting, creates the worker and waits, without burning a core, until
    // it has left Starting. Waits first for a previous worker to finish.
    StartResult StartRun(MeasurementSetup& setup, FileOpener& opener);
    // Waits for the worker to finish, if there is one.
    void Join();
    bool Joinable() const { return started_; }

    // Scheduling the worker received: "real-time", "high" or "normal".
    const char* PriorityClass() const;
    // CPU time the last worker used, in seconds (valid once it has finished).
    double CpuSeconds() const { return cpuSeconds_.load(); }

  private:
    static void* Entry(void* self);

    pthread_t thread_{};
    bool started_ = false;
    MeasurementSetup* setup_ = nullptr;
    FileOpener* opener_ = nullptr;
    std::atomic<int> priority_{0};
    std::atomic<double> cpuSeconds_{0.0};
};

}  // namespace tamix
