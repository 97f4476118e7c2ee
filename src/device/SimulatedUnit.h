// The instrument's side of the protocol, on bytes: it answers command bytes,
// learns the programmed inputs, and after '$' 'S' produces scans at its model's
// sample period into a bounded output buffer. Transport-free, so that it can sit
// behind the in-process driver or a pseudo-terminal.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceProfile.h"

namespace tamix {

struct SimulatedUnitOptions {
    std::string serial = "A30008SN";
    // Inputs a unit without channel programming (TIRQEL) streams, ascending.
    std::vector<int> fixedInputs = {0, 1, 2, 3};
    bool paced = true;          // false: scans as fast as the host asks for them
    bool neverAnswers = false;  // listed and opened, but silent
    bool heldByOther = false;   // another process holds it: the open fails
    // After this many scans the unit is unplugged: reads and writes fail.
    int64_t unplugAfterScans = -1;
    // The unit's FIFO: while nobody takes its bytes it keeps the oldest scans
    // and drops those that do not fit, as the real unit does.
    std::size_t bufferBytes = 4096;
    // Scans the unit drops as if its FIFO had overflowed: `count` scans from
    // scan `at` on (ascending, not overlapping), so that a test knows where.
    struct Drop {
        int64_t at = 0;
        int64_t count = 0;
    };
    std::vector<Drop> drops;
};

class SimulatedUnit {
  public:
    using Clock = std::chrono::steady_clock;

    explicit SimulatedUnit(SimulatedUnitOptions options);

    const SimulatedUnitOptions& options() const { return options_; }
    const KnownUnit* model() const { return model_; }

    // A new open: the unit starts over, nothing buffered, not streaming.
    void Reset();
    // A byte from the host.
    void HostWrite(uint8_t byte, Clock::time_point now);
    // Produces what is due at `now`; in unpaced mode at least `wanted` bytes.
    void Advance(Clock::time_point now, std::size_t wanted);
    std::size_t Buffered() const { return size_; }
    std::size_t Take(uint8_t* dest, std::size_t count);
    // Bytes a read could take at `now` without waiting (produces what is due).
    std::size_t Ready(Clock::time_point now);
    // When `count` more scans will have been produced, for a paced unit that
    // streams; max() if never. A unit that waits for this sends whole batches.
    Clock::time_point WhenScansDue(int64_t count) const;
    // When `count` bytes will be buffered if the host takes nothing; max() if never.
    Clock::time_point WhenBuffered(std::size_t count) const;
    void Purge() { head_ = size_ = 0; }

    bool streaming() const { return state_ == State::Streaming; }
    bool unplugged() const { return unplugged_; }
    int64_t producedScans() const { return producedScans_; }
    int64_t lostScans() const { return lostScans_; }
    int64_t blockRequests() const { return blockRequests_; }
    const std::vector<int>& streamedInputs() const { return inputs_; }
    static constexpr std::size_t kReceivedLogBytes = 4096;
    // The first bytes the host has sent since the unit was created.
    const std::vector<uint8_t>& received() const { return received_; }

  private:
    enum class State { Command, Dollar, Count, Inputs, NorvMask, Streaming };

    void Reply(uint8_t byte);
    static constexpr std::size_t kMaxInputs = 8;

    void Push(uint8_t byte);
    // `count` bytes that are known to fit.
    void PushBytes(const uint8_t* bytes, std::size_t count);
    void ProduceScans(int64_t upTo);
    std::size_t ScanBytes() const { return inputs_.size() * 2; }
    // The word of `input` at scan `scan`, without its noise bits.
    uint16_t CleanWord(int input, int64_t scan) const;

    SimulatedUnitOptions options_;
    const KnownUnit* model_ = nullptr;
    State state_ = State::Command;
    int pending_ = 0;
    int norvInput_ = 0;
    std::vector<int> inputs_;
    std::vector<int> programming_;
    Clock::time_point start_{};
    int64_t producedScans_ = 0;
    int64_t lostScans_ = 0;
    int64_t blockRequests_ = 0;
    std::size_t nextDrop_ = 0;  // the first of options_.drops not yet behind the stream
    bool unplugged_ = false;
    std::vector<uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::vector<uint8_t> received_;
    // Per input, the words of one period of its signal in scans, when the
    // sample period is a whole number of the generator's ticks (it is for
    // every model but one); empty otherwise. Filled once, so that making a
    // scan costs a look-up per input instead of the signal's arithmetic.
    std::array<std::vector<uint16_t>, kMaxInputs> table_;
    // The noise bits of the model's words, by the low four bits of scan + input.
    std::array<uint16_t, 16> noise_{};
};

}  // namespace tamix
