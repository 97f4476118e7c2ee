// The identified unit: line rate, model class, model name and sample period,
// and the table of known units by the serial string of their bridge.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace tamix {

struct DeviceProfile {
    int32_t lineRate = 0;
    int32_t modelClass = 0;
    std::array<char, 16> modelName{};
    double samplePeriod = 0.0;

    std::string_view ModelName() const;
};

struct KnownUnit {
    std::string_view serial;
    int32_t lineRate;
    std::string_view modelName;
    double samplePeriod;
    int32_t modelClass;
};

// Rows in matching order; the serial is compared on its first eight characters.
std::span<const KnownUnit> KnownUnits();

// 0 and `profile` written on a match; 1 and `profile` untouched otherwise.
int IdentifyDevice(std::string_view serial, DeviceProfile& profile);

// The known unit whose serial or model name is `key` (model names pick the
// first row of that model), or nullptr.
const KnownUnit* FindKnownUnit(std::string_view key);

}  // namespace tamix
