// The one link to the instrument: opens and configures the bridge, exchanges
// command bytes and sample blocks, and closes it. Used only by the acquisition
// worker thread (set-up, sample loop, final close).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "device/D2xxDriver.h"

namespace tamix {

class CUsbLink {
  public:
    CUsbLink() = default;
    ~CUsbLink() { Close(); }
    CUsbLink(const CUsbLink&) = delete;
    CUsbLink& operator=(const CUsbLink&) = delete;

    // The driver the link talks through; set before the first open.
    void SetDriver(D2xxDriver* driver) { driver_ = driver; }
    D2xxDriver* Driver() const { return driver_; }

    // 0 opened, 1 no device at that index, 2 the open failed.
    int OpenByIndex(int index, int lineRate);
    void Close();
    FtStatus SetTimeouts(uint32_t readMs, uint32_t writeMs);
    FtStatus SetFlowRtsCts();
    // Sends one byte; with a reply place, reads one reply byte into it (left
    // unchanged when none arrives). Returns the driver status of the write
    // (FT_OK on a closed link, where nothing is sent).
    FtStatus WriteByte(uint8_t byte, uint8_t* reply = nullptr);
    // Sends `bytes` in one driver call, no reply read (FT_OK on a closed link).
    FtStatus WriteBytes(std::span<const uint8_t> bytes);
    // One byte 0..255; 255 when none arrives or the link is closed.
    int ReadByte();
    // Reads up to buffer.size() bytes in one call; bytes not received keep their
    // previous contents. Returns the driver status, 0 when not open. `received`
    // (optional) gets the number of bytes that arrived.
    FtStatus ReadBlock(std::span<uint8_t> buffer, uint32_t* received = nullptr);

    // The rate at which the open unit sends bytes while it streams; 0 (the
    // state after every open) when unknown.
    void SetStreamRate(double bytesPerSecond) { streamRate_ = bytesPerSecond; }
    // The shortest time between two wake-ups of a streaming read. The default,
    // a cycle of the 2 ms models and two of the 1 ms ones, keeps a live trace
    // moving smoothly; a recorder that nobody watches may wake less often, as
    // long as the bridge's buffer (4 KiB, a quarter second at the fastest
    // stream) outlasts the interval with room for a busy machine's delays.
    void SetWakeInterval(double seconds) { wakeInterval_ = seconds; }
    static constexpr double kDefaultWakeInterval = 0.016;
    // Waits, with one sleep, until `count` bytes (and at least the wake
    // interval's worth of the stream) can be due at the stream rate, so that the reads after it
    // find them waiting. Returns at once when `count` bytes are already queued, when the rate is
    // unknown or when the driver cannot tell what is queued; never sleeps longer than those bytes
    // take plus 4 ms of bridge latency and a varying delay of up to 16 ms (at most the wake
    // interval). The reads after it keep their own deadlines, so a silent or
    // vanished unit is found as without the wait. Returns the bytes that were queued before the
    // wait, -1 when the driver cannot tell, and in `queuedAt` (when given) the moment just after
    // the driver told.
    int64_t AwaitQueued(uint32_t count, std::chrono::steady_clock::time_point* queuedAt = nullptr);

    bool IsOpen() const { return opened_ == 1; }

  private:
    D2xxDriver* driver_ = nullptr;
    FtHandle handle_ = 0;
    int opened_ = 0;
    double streamRate_ = 0.0;
    double wakeInterval_ = kDefaultWakeInterval;
    double phase_ = 0.0;  // of the wake-up delay, in [0, 1)
};

}  // namespace tamix
