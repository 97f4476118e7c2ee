// Real instruments on Linux: the bridge's tty through the kernel's driver.
#include "device/SystemDriver.h"

namespace tamix {

std::unique_ptr<D2xxDriver> MakeSystemDriver(std::vector<SerialPortInfo> explicitPorts) {
    return std::make_unique<LinuxSerialDriver>(std::move(explicitPorts));
}

}  // namespace tamix
