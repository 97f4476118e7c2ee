// The identified unit: line rate, model class, model name and sample period,
// and the table of known units by the serial string of their bridge, with
// everything that differs from model to model.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tamix {

// How a model learns which inputs to sample.
enum class ChannelProgramming {
    // '$' 'C', the count and each input number, every byte answered.
    ChannelList,
    // '$' 'C' answered, then one unanswered byte per input: 1 selected, 0 not.
    InputMask,
    // Nothing is sent: the unit streams what was set on its own panel.
    None,
};

// One row of the known units: the bridge's serial and the model behind it.
struct KnownUnit {
    std::string_view serial;
    int32_t lineRate;
    std::string_view modelName;
    double samplePeriod;
    int32_t modelClass;
    ChannelProgramming programming;
    // The link uses RTS/CTS flow control instead of none.
    bool rtsCts;
};

struct DeviceProfile {
    int32_t lineRate = 0;
    int32_t modelClass = 0;
    std::array<char, 16> modelName{};
    double samplePeriod = 0.0;

    std::string_view ModelName() const;
};

// Rows in matching order; the serial is compared on its first eight characters.
std::span<const KnownUnit> KnownUnits();

// The first row whose eight-character serial begins `serial`, or nullptr.
const KnownUnit* MatchSerial(std::string_view serial);

// 0 and `profile` written on a match; 1 and `profile` untouched otherwise.
int IdentifyDevice(std::string_view serial, DeviceProfile& profile);

// The known unit whose serial or model name is `key` (model names pick the
// first row of that model), or nullptr.
const KnownUnit* FindKnownUnit(std::string_view key);

// Every key FindKnownUnit knows, for messages: "serials A30008SN, ...; model
// names KPR-T310, ...", each model once.
std::string KnownUnitKeys();

}  // namespace tamix
