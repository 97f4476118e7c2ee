#include "device/DeviceProfile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tamix {
namespace {

constexpr double kNorv40Period = std::bit_cast<double>(uint64_t{0x3F60678C2DEC3A85});

constexpr std::array<KnownUnit, 7> kUnits = {{
    {"A30008SN", 115200, "KPR-T310", 0.002, 1, ChannelProgramming::ChannelList, false},
    {"A3000B6G", 57600, "KPR-T310", 0.002, 1, ChannelProgramming::ChannelList, false},
    {"A3000B6H", 57600, "KPR-T310", 0.002, 1, ChannelProgramming::ChannelList, false},
    {"A30008SG", 115200, "HLX-7", 0.002, 2, ChannelProgramming::ChannelList, false},
    {"A3000B6u", 115200, "NORV40", kNorv40Period, 3, ChannelProgramming::InputMask, false},
    {"A60089Rz", 1500000, "TIRQEL", 0.001, 4, ChannelProgramming::None, true},
    {"A4001lsz", 1500000, "KPR-44B", 0.001, 3, ChannelProgramming::ChannelList, false},
}};

}  // namespace

std::string_view DeviceProfile::ModelName() const {
    return {modelName.data(), strnlen(modelName.data(), modelName.size())};
}

std::span<const KnownUnit> KnownUnits() {
    return kUnits;
}

const KnownUnit* MatchSerial(std::string_view serial) {
    if (serial.size() < 8) return nullptr;
    const std::string_view head = serial.substr(0, 8);
    for (const KnownUnit& unit : kUnits) {
        if (unit.serial == head) return &unit;
    }
    return nullptr;
}

int IdentifyDevice(std::string_view serial, DeviceProfile& profile) {
    const KnownUnit* unit = MatchSerial(serial);
    if (unit == nullptr) return 1;
    profile.lineRate = unit->lineRate;
    profile.modelName.fill('\0');
    std::memcpy(profile.modelName.data(), unit->modelName.data(), unit->modelName.size());
    profile.samplePeriod = unit->samplePeriod;
    profile.modelClass = unit->modelClass;
    return 0;
}

const KnownUnit* FindKnownUnit(std::string_view key) {
    for (const KnownUnit& unit : kUnits) {
        if (unit.serial == key || unit.modelName == key) return &unit;
    }
    return nullptr;
}

std::string KnownUnitKeys() {
    std::string serials;
    std::vector<std::string_view> models;
    for (const KnownUnit& unit : kUnits) {
        serials += (serials.empty() ? "" : ", ") + std::string(unit.serial);
        if (std::find(models.begin(), models.end(), unit.modelName) == models.end()) {
            models.push_back(unit.modelName);
        }
    }
    std::string text = "serials " + serials + "; model names ";
    for (std::size_t i = 0; i < models.size(); ++i) {
        text += (i ? ", " : "") + std::string(models[i]);
    }
    return text;
}

}  // namespace tamix
