// Windows only: one serial port (the bridge's virtual COM port) driven through
// the Win32 communications API with the driver interface's semantics: a read
// returns when all bytes arrived or its whole deadline has passed.
#pragma once

#include <cstdint>
#include <string>

#include "device/D2xxDriver.h"

namespace tamix {

class WindowsComPort {
  public:
    WindowsComPort() = default;
    ~WindowsComPort();
    WindowsComPort(const WindowsComPort&) = delete;
    WindowsComPort& operator=(const WindowsComPort&) = delete;

    // `name` is "COM3" or a full device path ("\\.\COM12"); exclusive by the
    // system's rules. False with the port and the system's reason in `error`.
    bool Open(const std::string& name, std::string& error);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    FtStatus Read(void* buffer, uint32_t count, uint32_t* received);
    FtStatus Write(const void* buffer, uint32_t count, uint32_t* sent);
    FtStatus SetBaudRate(uint32_t rate);
    FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity);
    FtStatus SetFlowControl(uint16_t mode);
    FtStatus Purge(uint32_t mask);
    FtStatus SetTimeouts(uint32_t readMs, uint32_t writeMs);
    FtStatus SetBufferSizes(uint32_t inSize, uint32_t outSize);

  private:
    void* handle_ = nullptr;
};

}  // namespace tamix
