#include "device/InstrumentProtocol.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string_view>

#include "device/CUsbDeviceList.h"
#include "device/DeviceProfile.h"

namespace tamix {
namespace {

// The unit echoes every byte of a command it answers; anything else, or
// nothing within the read timeout, is not the unit the serial named.
bool SendWithReply(CUsbLink& link, uint8_t byte) {
    link.WriteByte(byte);
    return link.ReadByte() == byte;
}

}  // namespace

int16_t ConvertSample(uint8_t high, uint8_t low, int modelClass, int inputNumber) {
    const auto u = static_cast<uint16_t>((high << 8) | low);
    switch (modelClass) {
        case 1:
        case 2: {
            const int s = static_cast<int16_t>(u);
            const int v = inputNumber >= 4 ? (s - 2048) * 16 : (2048 - s) * 16;
            return static_cast<int16_t>(static_cast<uint16_t>(v));
        }
        case 3: {
            const int s = static_cast<int16_t>(static_cast<uint16_t>(u & 0xFFFC));
            return static_cast<int16_t>(static_cast<uint16_t>(-s));
        }
        case 4:
            return static_cast<int16_t>(static_cast<int>(u) - 32768);
        default:
            return 0;
    }
}

SetupResult SetupDevice(CUsbLink& link, DeviceProfile& profile,
                        std::span<const ChannelInfo> channels) {
    if (link.Driver() == nullptr) return SetupResult::NoUnit;

    std::array<char, 256> serial{};
    {
        // 25 KiB of entries: kept off the worker's small stack.
        const auto list = std::make_unique<CUsbDeviceList>(*link.Driver(), true);
        list->GetEntry(0, nullptr, serial, {});
    }
    const KnownUnit* unit = MatchSerial(std::string_view(serial.data()));
    if (unit == nullptr || IdentifyDevice(unit->serial, profile) != 0) return SetupResult::NoUnit;
    if (link.OpenByIndex(0, profile.lineRate) != 0) return SetupResult::NoUnit;
    link.SetTimeouts(1000, 1000);

    const int n = static_cast<int>(channels.size());
    switch (unit->programming) {
        case ChannelProgramming::ChannelList:
            if (!SendWithReply(link, kCommandPrefix) || !SendWithReply(link, kProgramChannels) ||
                !SendWithReply(link, static_cast<uint8_t>(n))) {
                return SetupResult::NoUnit;
            }
            for (const ChannelInfo& channel : channels) {
                if (!SendWithReply(
                        link, static_cast<uint8_t>(std::min(channel.inputNumber, kHighestInput)))) {
                    return SetupResult::NoUnit;
                }
            }
            break;
        case ChannelProgramming::InputMask:
            if (!SendWithReply(link, kCommandPrefix) || !SendWithReply(link, kProgramChannels)) {
                return SetupResult::NoUnit;
            }
            for (int input = 0; input < kInputMaskBytes; ++input) {
                const bool selected =
                    std::any_of(channels.begin(), channels.end(),
                                [input](const ChannelInfo& c) { return c.inputNumber == input; });
                link.WriteByte(selected ? 1 : 0);
            }
            break;
        case ChannelProgramming::None:
            break;
    }
    if (unit->rtsCts) link.SetFlowRtsCts();
    // The unit streams 2 bytes per channel and scan at its own period; knowing
    // that lets a batch wait for its bytes with one wake-up.
    if (profile.samplePeriod > 0.0) {
        link.SetStreamRate(kSampleWordBytes * n / profile.samplePeriod);
    }
    return SetupResult::Ok;
}

bool StartStreaming(CUsbLink& link) {
    return SendWithReply(link, kCommandPrefix) && SendWithReply(link, kStartStreaming);
}

BatchResult ReadBatch(CUsbLink& link, int channelCount, std::span<uint8_t> batch,
                      const ReadPatience& patience) {
    BatchResult result;
    // The unit streams at its own pace whether asked or not, so the whole
    // cycle is waited for at once; the exchanges below then find their bytes
    // waiting instead of each costing a wake-up. Requests still go one at a
    // time, each after the previous block was read, as the unit expects.
    result.queuedBefore =
        link.AwaitQueued(static_cast<uint32_t>(kBlockBytes * channelCount), &result.queuedAt);
    using Clock = std::chrono::steady_clock;
    for (int k = 0; k < channelCount; ++k) {
        link.WriteByte(kBlockRequest);
        uint32_t inBlock = 0;
        Clock::time_point lastByte = Clock::now();
        for (;;) {
            uint32_t got = 0;
            const FtStatus status =
                link.ReadBlock(batch.subspan(static_cast<std::size_t>(k) * kBlockBytes + inBlock,
                                             kBlockBytes - inBlock),
                               &got);
            inBlock += got;
            result.bytesReceived += got;
            if (status != FT_OK) {
                if (result.status == FT_OK) result.status = status;
                return result;
            }
            if (inBlock == kBlockBytes) break;
            // A timeout: the unit is late (a busy bus, a paused bridge) or gone.
            if (got > 0) lastByte = Clock::now();
            const double silent = std::chrono::duration<double>(Clock::now() - lastByte).count();
            if (patience.keepWaiting == nullptr ||
                !patience.keepWaiting(patience.context, silent)) {
                return result;
            }
        }
    }
    return result;
}

void StopStreaming(CUsbLink& link) {
    link.WriteByte(stopByte);
}

}  // namespace tamix
