#include "view/PowerDensityBuilder.h"

namespace tamix {

PowerDensityBuilder::~PowerDensityBuilder() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
}

void PowerDensityBuilder::Start(std::unique_ptr<RecordingReader> reader, int64_t first,
                                int64_t last, std::vector<std::size_t> channels) {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    cancel_ = false;
    finished_ = false;
    ok_ = false;
    error_.clear();
    done_ = 0;
    total_ = 1;
    reader_ = std::move(reader);
    first_ = first;
    last_ = last;
    channels_ = std::move(channels);
    psd_ = std::make_unique<PowerDensity>();
    thread_ = std::thread([this] { Run(); });
}

void PowerDensityBuilder::Run() {
    if (reader_) {
        ok_ = ComputePowerDensity(
            *reader_, first_, last_, channels_,
            [this](int64_t done, int64_t total) {
                done_.store(done, std::memory_order_relaxed);
                total_.store(total, std::memory_order_relaxed);
                return !cancel_.load(std::memory_order_relaxed);
            },
            *psd_, error_);
    } else {
        error_ = "no recording to read";
    }
    // The file stays open no longer than needed.
    reader_.reset();
    finished_.store(true, std::memory_order_release);
}

std::unique_ptr<PowerDensity> PowerDensityBuilder::Take(std::string& error) {
    if (thread_.joinable()) thread_.join();
    if (!ok_) {
        error = error_;
        return nullptr;
    }
    return std::move(psd_);
}

}  // namespace tamix
