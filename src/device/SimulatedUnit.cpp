#include "device/SimulatedUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "device/ProtocolBytes.h"
#include "device/SignalGenerator.h"

namespace tamix {

SimulatedUnit::SimulatedUnit(SimulatedUnitOptions options)
    : options_(std::move(options)), ring_(std::max<std::size_t>(options_.bufferBytes, 16)) {
    received_.reserve(kReceivedLogBytes);
    model_ = MatchSerial(options_.serial);
    if (model_ != nullptr) {
        for (unsigned v = 0; v < noise_.size(); ++v) {
            noise_[v] = SignalGenerator::NoiseBits(model_->modelClass, v);
        }
        const double ticks = model_->samplePeriod * SignalGenerator::kTicksPerSecond;
        const auto step = static_cast<int64_t>(std::llround(ticks));
        if (step > 0 && std::fabs(ticks - static_cast<double>(step)) < 1e-6) {
            for (int input = 0; input <= kHighestInput; ++input) {
                // Scan m and scan m + n have the same phase when n × step is a
                // whole number of periods.
                const int64_t period = SignalGenerator::PeriodTicks(input);
                const int64_t scans = period / std::gcd(period, step);
                auto& words = table_[static_cast<std::size_t>(input)];
                words.resize(static_cast<std::size_t>(scans));
                for (int64_t m = 0; m < scans; ++m) {
                    const int16_t sample = SignalGenerator::IntendedSample(
                        input, static_cast<double>(m) * model_->samplePeriod, model_->modelClass);
                    words[static_cast<std::size_t>(m)] =
                        SignalGenerator::EncodeWord(sample, model_->modelClass, input, 0);
                }
            }
        }
    }
    Reset();
}

uint16_t SimulatedUnit::CleanWord(int input, int64_t scan) const {
    const auto& words = table_[static_cast<std::size_t>(input)];
    if (!words.empty()) return words[static_cast<std::size_t>(scan % std::ssize(words))];
    const double t = static_cast<double>(scan) * model_->samplePeriod;
    const int16_t sample = SignalGenerator::IntendedSample(input, t, model_->modelClass);
    return SignalGenerator::EncodeWord(sample, model_->modelClass, input, 0);
}

void SimulatedUnit::Reset() {
    state_ = State::Command;
    Purge();
    if (model_ != nullptr && model_->programming == ChannelProgramming::None) {
        inputs_.clear();
        for (const int input : options_.fixedInputs) {
            if (input >= 0 && input <= kHighestInput) inputs_.push_back(input);
        }
        std::sort(inputs_.begin(), inputs_.end());
        inputs_.erase(std::unique(inputs_.begin(), inputs_.end()), inputs_.end());
    }
}

void SimulatedUnit::Push(uint8_t byte) {
    if (size_ == ring_.size()) return;
    ring_[(head_ + size_) % ring_.size()] = byte;
    ++size_;
}

void SimulatedUnit::PushBytes(const uint8_t* bytes, std::size_t count) {
    const std::size_t tail = (head_ + size_) % ring_.size();
    const std::size_t first = std::min(count, ring_.size() - tail);
    std::memcpy(ring_.data() + tail, bytes, first);
    std::memcpy(ring_.data(), bytes + first, count - first);
    size_ += count;
}

void SimulatedUnit::Reply(uint8_t byte) {
    Push(byte);
}

void SimulatedUnit::HostWrite(uint8_t byte, Clock::time_point now) {
    // The log is bounded so that a long run allocates nothing.
    if (received_.size() < kReceivedLogBytes) received_.push_back(byte);
    if (options_.neverAnswers || unplugged_ || model_ == nullptr) return;
    const bool mask = model_->programming == ChannelProgramming::InputMask;
    switch (state_) {
        case State::Command:
            if (byte == kCommandPrefix) {
                Reply(byte);
                state_ = State::Dollar;
            }
            break;
        case State::Dollar:
            if (byte == kProgramChannels) {
                Reply(byte);
                programming_.clear();
                if (mask) {
                    norvInput_ = 0;
                    state_ = State::NorvMask;
                } else {
                    state_ = State::Count;
                }
            } else if (byte == kStartStreaming) {
                Reply(byte);
                start_ = now;
                producedScans_ = 0;
                lostScans_ = 0;
                blockRequests_ = 0;
                nextDrop_ = 0;
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
            programming_.push_back(std::min<int>(byte, kHighestInput));
            if (--pending_ == 0) {
                inputs_ = programming_;
                std::sort(inputs_.begin(), inputs_.end());
                inputs_.erase(std::unique(inputs_.begin(), inputs_.end()), inputs_.end());
                state_ = State::Command;
            }
            break;
        case State::NorvMask:
            // The mask's selection bytes are taken without answering.
            if (byte != 0) programming_.push_back(norvInput_);
            if (++norvInput_ == kInputMaskBytes) {
                inputs_ = programming_;
                state_ = State::Command;
            }
            break;
        case State::Streaming:
            if (byte == kBlockRequest) {
                ++blockRequests_;
            } else if (byte == stopByte) {
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
    // A full FIFO keeps what it holds and drops the scans that find no room;
    // time goes on, so the first scan that fits again carries the signal of
    // its own instant.
    lostScans_ += pending - produce;
    const int64_t first = producedScans_;
    const int64_t end = first + produce;
    const std::size_t n = inputs_.size();
    // Where each input's table stands at the first scan; stepped from then on.
    std::array<const std::vector<uint16_t>*, kMaxInputs> tables{};
    std::array<std::size_t, kMaxInputs> at{};
    bool tabled = true;
    for (std::size_t p = 0; p < n; ++p) {
        tables[p] = &table_[static_cast<std::size_t>(inputs_[p])];
        if (tables[p]->empty()) {
            tabled = false;
        } else {
            at[p] = static_cast<std::size_t>(first % std::ssize(*tables[p]));
        }
    }
    std::array<uint8_t, 2 * kMaxInputs> bytes{};
    const auto& drops = options_.drops;
    for (int64_t scan = first; scan < end; ++scan) {
        while (nextDrop_ < drops.size() && scan >= drops[nextDrop_].at + drops[nextDrop_].count) {
            ++nextDrop_;
        }
        const bool dropped = nextDrop_ < drops.size() && scan >= drops[nextDrop_].at;
        if (dropped) {
            ++lostScans_;
            // The tables step with the scans, sent or not.
            for (std::size_t p = 0; tabled && p < n; ++p) {
                if (++at[p] == tables[p]->size()) at[p] = 0;
            }
            continue;
        }
        for (std::size_t p = 0; p < n; ++p) {
            const int input = inputs_[p];
            uint16_t word = 0;
            if (tabled) {
                word = (*tables[p])[at[p]];
                if (++at[p] == tables[p]->size()) at[p] = 0;
            } else {
                word = CleanWord(input, scan);
            }
            // The noise depends on the low four bits of scan + input only.
            word |= noise_[static_cast<std::size_t>((scan + input) & 15)];
            bytes[2 * p] = static_cast<uint8_t>(word >> 8);
            bytes[2 * p + 1] = static_cast<uint8_t>(word & 0xFF);
        }
        PushBytes(bytes.data(), 2 * n);
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

std::size_t SimulatedUnit::Ready(Clock::time_point now) {
    // An unpaced unit makes its scans when they are read: they are always ready.
    if (streaming() && !unplugged_ && !options_.paced && !inputs_.empty()) return ring_.size();
    Advance(now, 0);
    return size_;
}

SimulatedUnit::Clock::time_point SimulatedUnit::WhenScansDue(int64_t count) const {
    if (state_ != State::Streaming || unplugged_ || !options_.paced || inputs_.empty()) {
        return Clock::time_point::max();
    }
    int64_t scan = producedScans_ + count;
    if (options_.unplugAfterScans >= 0) {
        // The unplugging is due when the last scan before it is.
        if (producedScans_ >= options_.unplugAfterScans) return Clock::time_point::max();
        scan = std::min(scan, options_.unplugAfterScans);
    }
    const std::chrono::duration<double> offset(static_cast<double>(scan) * model_->samplePeriod);
    return start_ + std::chrono::duration_cast<Clock::duration>(offset) +
           std::chrono::microseconds(1);
}

std::size_t SimulatedUnit::Take(uint8_t* dest, std::size_t count) {
    const std::size_t n = std::min(count, size_);
    const std::size_t first = std::min(n, ring_.size() - head_);
    std::memcpy(dest, ring_.data() + head_, first);
    std::memcpy(dest + first, ring_.data(), n - first);
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
