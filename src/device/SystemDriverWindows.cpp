// Real instruments on Windows: the bridge maker's D2XX library, or the
// bridge's COM port where only the virtual COM port driver is installed.
#include "device/SystemDriver.h"
#include "device/WindowsD2xxDriver.h"

namespace tamix {

std::unique_ptr<D2xxDriver> MakeSystemDriver(std::vector<SerialPortInfo> explicitPorts) {
    return std::make_unique<WindowsD2xxDriver>(std::move(explicitPorts));
}

}  // namespace tamix
