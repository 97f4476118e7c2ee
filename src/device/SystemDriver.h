// The driver for real instruments on this system (the kernel's serial driver
// on Linux, the bridge maker's library or its COM port on Windows), with the
// explicitly named ports listed first.
#pragma once

#include <memory>
#include <vector>

#include "device/D2xxDriver.h"
#include "device/LinuxSerialDriver.h"

namespace tamix {

std::unique_ptr<D2xxDriver> MakeSystemDriver(std::vector<SerialPortInfo> explicitPorts);

}  // namespace tamix
