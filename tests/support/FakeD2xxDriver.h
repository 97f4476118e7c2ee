// A scriptable in-memory driver: devices with serials, a device held by another
// process, a silent device, more devices than the list holds, and a log of
// every call, to show what the link asks of the driver.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "device/D2xxDriver.h"

namespace tamix::test {

class FakeD2xxDriver final : public D2xxDriver {
  public:
    struct Device {
        std::string serial;
        bool heldByOther = false;
    };

    std::vector<Device> devices;
    // Reported by CreateDeviceInfoList instead of devices.size() when set.
    int reportedCount = -1;
    bool listFails = false;
    // Bytes the device sends; a read takes what is there and returns.
    std::deque<uint8_t> incoming;
    std::vector<uint8_t> written;
    std::vector<std::string> calls;
    FtHandle openHandle = 0;
    int fetchCalls = 0;

    FtStatus CreateDeviceInfoList(uint32_t* n) override {
        calls.push_back("CreateDeviceInfoList");
        if (listFails) return FT_IO_ERROR;
        *n = reportedCount >= 0 ? static_cast<uint32_t>(reportedCount)
                                : static_cast<uint32_t>(devices.size());
        return FT_OK;
    }
    FtStatus GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* n) override {
        ++fetchCalls;
        const uint32_t count = std::min<uint32_t>(*n, static_cast<uint32_t>(devices.size()));
        for (uint32_t i = 0; i < count; ++i) {
            dest[i] = DeviceInfoNode{};
            dest[i].id = 0x04036001;
            std::strncpy(dest[i].serialNumber, devices[i].serial.c_str(), 15);
            std::strncpy(dest[i].description, "Fake bridge", 63);
        }
        *n = count;
        return FT_OK;
    }
    FtStatus GetDeviceInfoDetail(uint32_t index, uint32_t*, uint32_t*, uint32_t*, uint32_t*,
                                 char* serial, char*, FtHandle*) override {
        calls.push_back("GetDeviceInfoDetail " + std::to_string(index));
        if (index >= devices.size()) return FT_DEVICE_NOT_FOUND;
        std::strncpy(serial, devices[index].serial.c_str(), 15);
        return FT_OK;
    }
    FtStatus Open(int index, FtHandle* h) override {
        calls.push_back("Open " + std::to_string(index));
        if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        if (devices[index].heldByOther) return FT_DEVICE_NOT_OPENED;
        *h = openHandle = 0x1234;
        return FT_OK;
    }
    FtStatus Close(FtHandle) override {
        calls.push_back("Close");
        openHandle = 0;
        return FT_OK;
    }
    FtStatus Read(FtHandle, void* buffer, uint32_t count, uint32_t* received) override {
        calls.push_back("Read " + std::to_string(count));
        auto* out = static_cast<uint8_t*>(buffer);
        *received = 0;
        while (*received < count && !incoming.empty()) {
            out[(*received)++] = incoming.front();
            incoming.pop_front();
        }
        return FT_OK;
    }
    FtStatus Write(FtHandle, const void* buffer, uint32_t count, uint32_t* sent) override {
        calls.push_back("Write " + std::to_string(count));
        const auto* p = static_cast<const uint8_t*>(buffer);
        written.insert(written.end(), p, p + count);
        *sent = count;
        return FT_OK;
    }
    FtStatus SetBaudRate(FtHandle, uint32_t rate) override {
        calls.push_back("SetBaudRate " + std::to_string(rate));
        return FT_OK;
    }
    FtStatus SetDataCharacteristics(FtHandle, uint8_t w, uint8_t s, uint8_t p) override {
        calls.push_back("SetDataCharacteristics " + std::to_string(w) + " " + std::to_string(s) +
                        " " + std::to_string(p));
        return FT_OK;
    }
    FtStatus SetFlowControl(FtHandle, uint16_t mode, uint8_t, uint8_t) override {
        calls.push_back("SetFlowControl " + std::to_string(mode));
        return FT_OK;
    }
    FtStatus Purge(FtHandle, uint32_t mask) override {
        calls.push_back("Purge " + std::to_string(mask));
        return FT_OK;
    }
    FtStatus SetTimeouts(FtHandle, uint32_t r, uint32_t w) override {
        calls.push_back("SetTimeouts " + std::to_string(r) + " " + std::to_string(w));
        return FT_OK;
    }
    FtStatus SetLatencyTimer(FtHandle, uint8_t ms) override {
        calls.push_back("SetLatencyTimer " + std::to_string(ms));
        return FT_OK;
    }
    FtStatus SetUSBParameters(FtHandle, uint32_t in, uint32_t out) override {
        calls.push_back("SetUSBParameters " + std::to_string(in) + " " + std::to_string(out));
        return FT_OK;
    }
};

}  // namespace tamix::test
