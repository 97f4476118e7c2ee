#include "device/InstrumentProtocol.h"

#include <array>
#include <memory>
#include <string_view>

#include "device/CUsbDeviceList.h"
#include "device/DeviceProfile.h"

namespace tamix {
namespace {

void SendWithReply(CUsbLink& link, uint8_t byte) {
    link.WriteByte(byte);
    link.ReadByte();
}

bool ModelIs(std::string_view model, std::string_view name, std::size_t chars) {
    return model.substr(0, chars) == name.substr(0, chars);
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

int SetupDevice(CUsbLink& link, DeviceProfile& profile, std::span<const ChannelInfo> channels) {
    if (link.Driver() == nullptr) return 1;

    std::array<char, 256> serial{};
    {
        // 25 KiB of entries: kept off the worker's small stack.
        const auto list = std::make_unique<CUsbDeviceList>(*link.Driver(), true);
        list->GetEntry(0, nullptr, serial, {});
    }
    if (IdentifyDevice(std::string_view(serial.data()), profile) != 0) return 1;
    if (link.OpenByIndex(0, profile.lineRate) != 0) return 1;
    link.SetTimeouts(1000, 1000);

    const std::string_view model = profile.ModelName();
    const int n = static_cast<int>(channels.size());
    if (ModelIs(model, "KPR-T310", 8) || ModelIs(model, "HLX-7", 4) ||
        ModelIs(model, "KPR-44B", 7)) {
        SendWithReply(link, '$');
        SendWithReply(link, 'C');
        SendWithReply(link, static_cast<uint8_t>(n));
        for (int k = 0; k < n; ++k) {
            const int input = channels[k].inputNumber;
            SendWithReply(link, static_cast<uint8_t>(input > 7 ? 7 : input));
        }
    } else if (ModelIs(model, "NORV40", 6)) {
        SendWithReply(link, '$');
        SendWithReply(link, 'C');
        for (int input = 0; input < 8; ++input) {
            uint8_t selected = 0;
            for (int k = 0; k < n; ++k) {
                if (channels[k].inputNumber == input) selected = 1;
            }
            link.WriteByte(selected);
        }
    } else if (ModelIs(model, "TIRQEL", 6)) {
        link.SetFlowRtsCts();
    }
    return 0;
}

void StartStreaming(CUsbLink& link) {
    SendWithReply(link, '$');
    SendWithReply(link, 'S');
}

BatchResult ReadBatch(CUsbLink& link, int channelCount, std::span<uint8_t> batch) {
    BatchResult result;
    for (int k = 0; k < channelCount; ++k) {
        link.WriteByte(0x00);
        uint32_t got = 0;
        const FtStatus status = link.ReadBlock(batch.subspan(k * kBlockBytes, kBlockBytes), &got);
        result.bytesReceived += got;
        if (status != FT_OK && result.status == FT_OK) result.status = status;
    }
    return result;
}

void StopStreaming(CUsbLink& link) {
    link.WriteByte(stopByte);
}

}  // namespace tamix
