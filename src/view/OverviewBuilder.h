// Builds a recording's min-max overview on a thread of its own, with a reader
// of its own, so that opening a large file never stops a window: the owner
// polls the progress and takes the overview when it is finished. Start, the
// getters, Take and the destructor belong to the owner's thread; the builder's
// thread touches only its reader, the overview and the atomic words.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "recording/MinMaxPyramid.h"
#include "recording/RecordingReader.h"

namespace tamix {

class OverviewBuilder {
  public:
    OverviewBuilder() = default;
    OverviewBuilder(const OverviewBuilder&) = delete;
    OverviewBuilder& operator=(const OverviewBuilder&) = delete;
    // Cancels a build still running and waits for its thread.
    ~OverviewBuilder();

    // Starts building from `reader`, which the builder's thread then owns.
    void Start(std::unique_ptr<RecordingReader> reader);
    void Cancel() { cancel_ = true; }

    int64_t Done() const { return done_.load(std::memory_order_relaxed); }
    int64_t Total() const { return total_.load(std::memory_order_relaxed); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    // Once finished: the overview, or nullptr with `error` ("FILE: reason").
    std::unique_ptr<MinMaxPyramid> Take(std::string& error);

  private:
    void Run();

    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int64_t> done_{0};
    std::atomic<int64_t> total_{0};
    // Written by the builder's thread before `finished_`, read by the owner after it.
    std::unique_ptr<RecordingReader> reader_;
    std::unique_ptr<MinMaxPyramid> pyramid_;
    std::string error_;
    bool ok_ = false;
};

}  // namespace tamix
