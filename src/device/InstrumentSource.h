// Chooses the driver the program talks through: a simulated unit when asked
// for, otherwise the real bridges (on Linux, the kernel's serial driver; on
// Windows, the bridge maker's library or the bridge's COM port), with
// explicitly named ports first.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ChannelInfo.h"
#include "device/D2xxDriver.h"
#include "device/LinuxSerialDriver.h"

namespace tamix {

struct InstrumentSource {
    std::optional<std::string> simulate;  // serial or model name
    bool unpaced = false;
    std::vector<int> fixedInputs;       // what a simulated unit without programming streams
    std::vector<SerialPortInfo> ports;  // explicit ports: path and the serial to assume
};

// A unit without channel programming (TIRQEL) is set up on its own panel: the
// simulated one streams the inputs of the run about to start, in input order.
void StreamSelectedInputs(InstrumentSource& source, std::span<const ChannelInfo> channels);

// Parses "PATH=SERIAL" (split at the last '='); false when either part is empty.
bool ParsePortSpec(const std::string& spec, SerialPortInfo& port);

// The driver for `source`; nullptr with `error` set when the simulated unit is unknown.
std::unique_ptr<D2xxDriver> MakeDriver(const InstrumentSource& source, std::string& error);

}  // namespace tamix
