#include "device/InstrumentSource.h"

#include "device/SimulatedDriver.h"
#include "device/SystemDriver.h"

namespace tamix {

void StreamSelectedInputs(InstrumentSource& source, std::span<const ChannelInfo> channels) {
    source.fixedInputs.clear();
    for (const ChannelInfo& channel : channels) source.fixedInputs.push_back(channel.inputNumber);
}

bool ParsePortSpec(const std::string& spec, SerialPortInfo& port) {
    const std::size_t eq = spec.rfind('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= spec.size()) return false;
    port.path = spec.substr(0, eq);
    port.serial = spec.substr(eq + 1);
    port.name = port.path.substr(port.path.rfind('/') + 1);
    port.description = "Serial port " + port.path;
    return true;
}

std::unique_ptr<D2xxDriver> MakeDriver(const InstrumentSource& source, std::string& error) {
    if (source.simulate) {
        SimulatedUnitOptions unit;
        if (!SimulatedUnitFor(*source.simulate, unit)) {
            error = "a simulated unit needs a serial or a model name";
            return nullptr;
        }
        unit.paced = !source.unpaced;
        if (!source.fixedInputs.empty()) unit.fixedInputs = source.fixedInputs;
        // The simulated unit alone: the set-up recognises only the first listed
        // device, so real units listed after it could never be reached.
        return std::make_unique<SimulatedDriver>(std::vector<SimulatedUnitOptions>{unit});
    }
    return MakeSystemDriver(source.ports);
}

}  // namespace tamix
