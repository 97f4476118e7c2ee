// The driver for real instruments on Linux: the bridge's tty from the kernel's
// ftdi_sio driver, found through sysfs and driven through termios, with the
// driver interface's semantics (a read waits for its whole deadline, a listed
// device carries its USB serial string). Explicit ports (a path and the serial
// to assume for it) come first in the list, for pseudo-terminals and unusual set-ups.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "device/D2xxDriver.h"

namespace tamix {

struct SerialPortInfo {
    std::string name;          // "ttyUSB0"
    std::string path;          // "/dev/ttyUSB0"
    std::string serial;        // USB serial string
    std::string description;   // USB product string
    std::string latencyTimer;  // sysfs file of the latency timer, or empty
};

// Every tty whose driver is ftdi_sio under `sysfsRoot` ("/sys"), in natural
// order (ttyUSB2 before ttyUSB10), with nodes under `devRoot` ("/dev").
std::vector<SerialPortInfo> ListFtdiPorts(const std::string& sysfsRoot, const std::string& devRoot);

class LinuxSerialDriver final : public D2xxDriver {
  public:
    explicit LinuxSerialDriver(std::vector<SerialPortInfo> explicitPorts = {},
                               std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
    ~LinuxSerialDriver() override;

    // Why the last open failed ("permission denied: add your user to the dialout group").
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
    FtStatus SetFlowControl(FtHandle handle, uint16_t mode, uint8_t, uint8_t) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override;
    FtStatus SetUSBParameters(FtHandle handle, uint32_t, uint32_t) override;
    FtStatus GetQueueStatus(FtHandle handle, uint32_t* rxBytes) override;

  private:
    struct Port {
        int fd = -1;
        SerialPortInfo info;
        uint32_t readTimeoutMs = 2000;
        uint32_t writeTimeoutMs = 2000;
    };
    Port* Find(FtHandle handle);

    std::vector<SerialPortInfo> explicit_;
    std::string sysfsRoot_;
    std::string devRoot_;
    std::vector<SerialPortInfo> listed_;
    Port port_;  // the one open port (the program opens one unit at a time)
    std::string lastError_;
};

}  // namespace tamix
