// The instrument's protocol as the host runs it: sample-word conversion, the
// set-up with each model's channel programming, and the start, batch and stop
// exchanges. All of it runs on the acquisition worker thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "base/ChannelInfo.h"
#include "device/CUsbLink.h"
#include "device/D2xxDriver.h"
#include "device/DeviceProfile.h"
#include "device/ProtocolBytes.h"

namespace tamix {

// The signed 16-bit sample (±32768 = ±10 V) of a sample word sent high byte first.
int16_t ConvertSample(uint8_t high, uint8_t low, int modelClass, int inputNumber);

// The outcome of the set-up; the numbers are the set-up's classic return codes.
enum class SetupResult : int { Ok = 0, NoUnit = 1 };

// Identifies the first listed unit into `profile`, opens the link and programs
// the unit for `channels`. A unit that does not echo each command byte it
// answers (a silent port, another model, noise) is no unit.
SetupResult SetupDevice(CUsbLink& link, DeviceProfile& profile,
                        std::span<const ChannelInfo> channels);

// '$' and 'S', each with its reply read; false when either is not echoed.
bool StartStreaming(CUsbLink& link);

// Result of one batch: the driver status, the bytes that arrived, and the
// bytes that were already waiting in the host's buffer when it began (-1 when
// the driver cannot tell) and when they were counted.
struct BatchResult {
    FtStatus status = FT_OK;
    uint32_t bytesReceived = 0;
    int64_t queuedBefore = -1;
    std::chrono::steady_clock::time_point queuedAt{};  // when queuedBefore was counted
    bool Complete(int channelCount) const {
        return status == FT_OK &&
               bytesReceived == static_cast<uint32_t>(kBlockBytes * channelCount);
    }
};

// Asked each time a read of a block ends by its timeout with the block still
// incomplete, with the seconds since the last byte arrived: true to read on.
struct ReadPatience {
    bool (*keepWaiting)(void* context, double silentSeconds) = nullptr;
    void* context = nullptr;
};

// One request and one 16-byte block per channel into `batch` (16 × n bytes),
// after one wait for the whole cycle's bytes at the link's stream rate. A
// block that is late is read on for as long as `patience` allows (without
// it, one timeout ends the batch); a driver error ends it at once.
BatchResult ReadBatch(CUsbLink& link, int channelCount, std::span<uint8_t> batch,
                      const ReadPatience& patience = {});

// The stop byte, without a reply.
void StopStreaming(CUsbLink& link);

}  // namespace tamix
