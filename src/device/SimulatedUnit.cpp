#include "device/SimulatedUnit.h"

#include <algorithm>

#include "device/SignalGenerator.h"

namespace tamix {

SimulatedUnit::SimulatedUnit(SimulatedUnitOptions options)
    : options_(std::move(options)), ring_(std::max<std::size_t>(options_.bufferBytes, 16)) {
    received_.reserve(kReceivedLogBytes);
    const std::string_view serial = options_.serial;
    for (const KnownUnit& unit : KnownUnits()) {
        if (serial.size() >= 8 && unit.serial == serial.substr(0, 8)) {
            model_ = &unit;
            break;
        }
    }
    Reset();
}

void SimulatedUnit::Reset() {
    state_ = State::Command;
    Purge();
    if (model_ != nullptr && model_->modelName == "TIRQEL") {
        inputs_ = options_.fixedInputs;
        std::sort(inputs_.begin(), inputs_.end());
    }
}

void SimulatedUnit::Push(uint8_t byte) {
    if (size_ == ring_.size()) return;
    ring_[(head_ + size_) % ring_.size()] = byte;
    ++size_;
}

void SimulatedUnit::Reply(uint8_t byte) {
    Push(byte);
}

void SimulatedUnit::HostWrite(uint8_t byte, Clock::time_point now) {
    // The log is bounded so that a long run allocates nothing.
    if (received_.size() < kReceivedLogBytes) received_.push_back(byte);
    if (options_.neverAnswers || unplugged_ || model_ == nullptr) return;
    const bool norv = model_->modelName == "NORV40";
    switch (state_) {
        case State::Command:
            if (byte == '$') {
                Reply(byte);
                state_ = State::Dollar;
            }
            break;
        case State::Dollar:
            if (byte == 'C') {
                Reply(byte);
                programming_.clear();
                if (norv) {
                    norvInput_ = 0;
                    state_ = State::NorvMask;
                } else {
                    state_ = State::Count;
                }
            } else if (byte == 'S') {
                Reply(byte);
                start_ = now;
                producedScans_ = 0;
                lostScans_ = 0;
                blockRequests_ = 0;
                state_ = State::Streaming;
            } else {
                state_ = State::Command;
            }
            break;
        case State::Count:
            Reply(byte);
            pending_ = byte;
            state_ = pending_ > 0 ? State::Inputs : State::Command;
            if (pending_ == 0) inputs_.clear();
            break;
        case State::Inputs:
            Reply(byte);
            programming_.push_back(std::min<int>(byte, 7));
            if (--pending_ == 0) {
                inputs_ = programming_;
                std::sort(inputs_.begin(), inputs_.end());
                inputs_.erase(std::unique(inputs_.begin(), inputs_.end()), inputs_.end());
                state_ = State::Command;
            }
            break;
        case State::NorvMask:
            // The NORV40 takes its eight selection bytes without answering.
            if (byte != 0) programming_.push_back(norvInput_);
            if (++norvInput_ == 8) {
                inputs_ = programming_;
                state_ = State::Command;
            }
            break;
        case State::Streaming:
            if (byte == 0x00) {
                ++blockRequests_;
            } else if (byte == 0x1B) {
                state_ = State::Command;
            }
            break;
    }
}

void SimulatedUnit::ProduceScans(int64_t upTo) {
    if (options_.unplugAfterScans >= 0 && upTo >= options_.unplugAfterScans) {
        upTo = options_.unplugAfterScans;
    }
    const int64_t pending = upTo - producedScans_;
    if (pending <= 0 || inputs_.empty()) {
        producedScans_ = std::max(producedScans_, upTo);
        return;
    }
    const std::size_t scanBytes = ScanBytes();
    const auto fits = static_cast<int64_t>((ring_.size() - size_) / scanBytes);
    const int64_t produce = std::min(pending, fits);
    // Scans that find no room are lost, but time goes on: the next scan that
    // fits carries the signal of its own instant.
    lostScans_ += pending - produce;
    const int64_t first = upTo - produce;
    for (int64_t scan = first; scan < upTo; ++scan) {
        const double t = static_cast<double>(scan) * model_->samplePeriod;
        for (const int input : inputs_) {
            const int16_t sample = SignalGenerator::IntendedSample(input, t, model_->modelClass);
            const uint16_t word = SignalGenerator::EncodeWord(sample, model_->modelClass, input,
                                                              static_cast<unsigned>(scan + input));
            Push(static_cast<uint8_t>(word >> 8));
            Push(static_cast<uint8_t>(word & 0xFF));
        }
    }
    producedScans_ = upTo;
}

void SimulatedUnit::Advance(Clock::time_point now, std::size_t wanted) {
    if (state_ != State::Streaming || unplugged_) return;
    int64_t due = 0;
    if (options_.paced) {
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        due = static_cast<int64_t>(elapsed / model_->samplePeriod);
    } else {
        const std::size_t scanBytes = std::max<std::size_t>(ScanBytes(), 1);
        const std::size_t missing = wanted > size_ ? wanted - size_ : 0;
        due = producedScans_ + static_cast<int64_t>((missing + scanBytes - 1) / scanBytes);
    }
    ProduceScans(due);
    if (options_.unplugAfterScans >= 0 && producedScans_ >= options_.unplugAfterScans) {
        unplugged_ = true;
    }
}

std::size_t SimulatedUnit::Take(uint8_t* dest, std::size_t count) {
    const std::size_t n = std::min(count, size_);
    for (std::size_t i = 0; i < n; ++i) dest[i] = ring_[(head_ + i) % ring_.size()];
    head_ = (head_ + n) % ring_.size();
    size_ -= n;
    return n;
}

SimulatedUnit::Clock::time_point SimulatedUnit::WhenBuffered(std::size_t count) const {
    if (size_ >= count) return Clock::time_point::min();
    if (state_ != State::Streaming || unplugged_ || !options_.paced || inputs_.empty()) {
        return Clock::time_point::max();
    }
    const std::size_t scanBytes = ScanBytes();
    const auto scansNeeded = static_cast<int64_t>((count - size_ + scanBytes - 1) / scanBytes);
    const int64_t scan = producedScans_ + scansNeeded;
    if (options_.unplugAfterScans >= 0 && scan > options_.unplugAfterScans) {
        return Clock::time_point::max();
    }
    const auto offset =
        std::chrono::duration<double>(static_cast<double>(scan) * model_->samplePeriod);
    return start_ + std::chrono::duration_cast<Clock::duration>(offset) +
           std::chrono::microseconds(1);
}

}  // namespace tamix
