// Computes a power density on a thread of its own, with a reader of its own, so
// that a long span never stops a window: the owner polls the progress and
// takes the power density when it is finished. Start, the getters, Take and the
// destructor belong to the owner's thread; the builder's thread touches only
// its reader, the power density and the atomic words.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording/PowerDensity.h"
#include "recording/RecordingReader.h"

namespace tamix {

class PowerDensityBuilder {
  public:
    PowerDensityBuilder() = default;
    PowerDensityBuilder(const PowerDensityBuilder&) = delete;
    PowerDensityBuilder& operator=(const PowerDensityBuilder&) = delete;
    // Cancels a computation still running and waits for its thread.
    ~PowerDensityBuilder();

    // Starts the power density of scans [first, last) of `channels` from `reader`,
    // which the builder's thread then owns.
    void Start(std::unique_ptr<RecordingReader> reader, int64_t first, int64_t last,
               std::vector<std::size_t> channels);
    void Cancel() { cancel_ = true; }

    int64_t Done() const { return done_.load(std::memory_order_relaxed); }
    int64_t Total() const { return total_.load(std::memory_order_relaxed); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    // Once finished: the power density, or nullptr with `error` ("FILE: reason").
    std::unique_ptr<PowerDensity> Take(std::string& error);

  private:
    void Run();

    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int64_t> done_{0};
    std::atomic<int64_t> total_{1};
    // Written before the thread starts or by it before `finished_`, read by
    // the owner after it.
    std::unique_ptr<RecordingReader> reader_;
    int64_t first_ = 0;
    int64_t last_ = 0;
    std::vector<std::size_t> channels_;
    std::unique_ptr<PowerDensity> psd_;
    std::string error_;
    bool ok_ = false;
};

}  // namespace tamix
