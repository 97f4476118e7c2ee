#include "view/OverviewBuilder.h"

namespace tamix {

OverviewBuilder::~OverviewBuilder() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
}

void OverviewBuilder::Start(std::unique_ptr<RecordingReader> reader) {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    cancel_ = false;
    finished_ = false;
    ok_ = false;
    error_.clear();
    done_ = 0;
    total_ = reader ? reader->Info().scanCount : 0;
    reader_ = std::move(reader);
    pyramid_ = std::make_unique<MinMaxPyramid>();
    thread_ = std::thread([this] { Run(); });
}

void OverviewBuilder::Run() {
    if (reader_) {
        ok_ = pyramid_->Build(
            *reader_,
            [this](int64_t done, int64_t total) {
                done_.store(done, std::memory_order_relaxed);
                total_.store(total, std::memory_order_relaxed);
                return !cancel_.load(std::memory_order_relaxed);
            },
            error_);
    } else {
        error_ = "no recording to read";
    }
    // The file stays open no longer than needed.
    reader_.reset();
    finished_.store(true, std::memory_order_release);
}

std::unique_ptr<MinMaxPyramid> OverviewBuilder::Take(std::string& error) {
    if (thread_.joinable()) thread_.join();
    if (!ok_) {
        error = error_;
        return nullptr;
    }
    return std::move(pyramid_);
}

}  // namespace tamix
