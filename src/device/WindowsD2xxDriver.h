// The driver for real instruments on Windows: the bridge maker's D2XX library
// (FTD2XX.dll, loaded when first needed, so the program starts without it) and,
// for set-ups with only the virtual COM port driver, explicitly named COM
// ports ("COM3" with the serial to assume), which are listed first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/D2xxDriver.h"
#include "device/LinuxSerialDriver.h"
#include "device/WindowsComPort.h"

namespace tamix {

class WindowsD2xxDriver final : public D2xxDriver {
  public:
    explicit WindowsD2xxDriver(std::vector<SerialPortInfo> explicitPorts = {},
                               std::string library = "FTD2XX.dll");
    ~WindowsD2xxDriver() override;
    WindowsD2xxDriver(const WindowsD2xxDriver&) = delete;
    WindowsD2xxDriver& operator=(const WindowsD2xxDriver&) = delete;

    // Why the last open failed, or that the D2XX library is not installed.
    std::string LastOpenError() const override { return lastError_; }

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
    FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                    uint8_t parity) override;
    FtStatus SetFlowControl(FtHandle handle, uint16_t mode, uint8_t xon, uint8_t xoff) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override;
    FtStatus SetUSBParameters(FtHandle handle, uint32_t inSize, uint32_t outSize) override;

    // The library's functions; null members when it is not installed.
    struct Api;

  private:
    enum class Kind { None, ComPort, Library };
    bool LoadLibraryOnce();
    bool IsOpen(FtHandle handle) const;

    std::vector<SerialPortInfo> explicit_;
    std::string library_;
    std::unique_ptr<Api> api_;
    bool loadTried_ = false;
    std::vector<DeviceInfoNode> listed_;  // explicit ports, then the library's devices
    Kind open_ = Kind::None;
    std::size_t openPort_ = 0;  // which explicit port, when open_ is ComPort
    void* ftHandle_ = nullptr;
    WindowsComPort com_;
    std::string lastError_;
};

}  // namespace tamix
