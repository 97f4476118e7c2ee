// Two drivers as one: the first driver's devices come first in the list, then
// the second's (a simulated unit ahead of the real bridges).
#pragma once

#include <memory>

#include "device/D2xxDriver.h"

namespace tamix {

class ChainedDriver final : public D2xxDriver {
  public:
    ChainedDriver(std::unique_ptr<D2xxDriver> first, std::unique_ptr<D2xxDriver> second);

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
    FtStatus SetDataCharacteristics(FtHandle handle, uint8_t w, uint8_t s, uint8_t p) override;
    FtStatus SetFlowControl(FtHandle handle, uint16_t mode, uint8_t xon, uint8_t xoff) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override;
    FtStatus SetUSBParameters(FtHandle handle, uint32_t in, uint32_t out) override;
    std::string LastOpenError() const override;

  private:
    // The driver a handle belongs to, and the handle that driver gave.
    D2xxDriver& Route(FtHandle& handle);

    std::unique_ptr<D2xxDriver> first_;
    std::unique_ptr<D2xxDriver> second_;
    uint32_t firstCount_ = 0;
    bool lastOpenSecond_ = false;
};

}  // namespace tamix
