// A driver whose device list holds simulated units: each plays the instrument's
// side of the protocol in-process, paced by a monotonic clock.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "device/D2xxDriver.h"
#include "device/SimulatedUnit.h"

namespace tamix {

class SimulatedDriver final : public D2xxDriver {
  public:
    // `timeoutScale` shortens every read timeout (tests of silent units).
    explicit SimulatedDriver(std::vector<SimulatedUnitOptions> units, double timeoutScale = 1.0);

    // Thread-safe snapshots for tests and tools.
    int64_t LostScans(int index) const;
    int64_t ProducedScans(int index) const;
    std::vector<uint8_t> ReceivedBytes(int index) const;
    std::vector<uint32_t> FlowControlModes(int index) const;
    uint32_t LineRate(int index) const;
    bool IsOpen(int index) const;
    // How often a read had to wait for the unit's bytes since the last open.
    int64_t ReadWaits(int index) const;

    FtStatus CreateDeviceInfoList(uint32_t* numDevices) override;
    FtStatus GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) override;
    FtStatus GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id,
                                 uint32_t* locId, char* serial16, char* description64,
                                 FtHandle* handle) override;
    FtStatus Open(int index, FtHandle* handle) override;
    FtStatus Close(FtHandle handle) override;
    FtStatus Read(FtHandle handle, void* buffer, uint32_t count, uint32_t* received) override;
    FtStatus Write(FtHandle handle, const void* buffer, uint32_t count, uint32_t* sent) override;
    FtStatus SetBaudRate(FtHandle handle, uint32_t rate) override;
    FtStatus SetDataCharacteristics(FtHandle handle, uint8_t, uint8_t, uint8_t) override;
    FtStatus SetFlowControl(FtHandle handle, uint16_t mode, uint8_t, uint8_t) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus SetLatencyTimer(FtHandle handle, uint8_t) override;
    FtStatus SetUSBParameters(FtHandle handle, uint32_t, uint32_t) override;
    FtStatus GetQueueStatus(FtHandle handle, uint32_t* rxBytes) override;

  private:
    struct Slot {
        std::unique_ptr<SimulatedUnit> unit;
        bool open = false;
        uint32_t readTimeoutMs = 300;
        uint32_t lineRate = 9600;
        std::vector<uint32_t> flowModes;
        int64_t readWaits = 0;
    };
    Slot* Find(FtHandle handle);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Slot> slots_;
    double timeoutScale_;
};

// Sets the serial of a simulated unit from a known serial or model name; an
// unknown non-empty key is taken as the serial of a foreign unit. False for an empty key.
bool SimulatedUnitFor(std::string_view key, SimulatedUnitOptions& options);

}  // namespace tamix
