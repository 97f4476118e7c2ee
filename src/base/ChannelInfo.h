// One selected channel of a measurement, and the labels of the physical inputs.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/TextLimits.h"

namespace tamix {

// `inputNumber` of a recorded channel whose file does not say which input it
// came from.
inline constexpr int32_t kUnknownInput = -1;

struct ChannelInfo {
    int32_t inputNumber = 0;  // 0..3 inputs "1".."4", 4..7 inputs "A".."D", or kUnknownInput
    std::array<char, kNameBytes> name{};  // at most 30 characters
    std::array<char, kUnitBytes> unit{};  // at most 4 characters, right-aligned
    double valueAt1V = 1.0;
    double valueAt0V = 0.0;

    std::string_view Name() const;
    std::string_view Unit() const;
};

// Labels of the physical inputs, in input-number order.
inline constexpr std::array<std::string_view, 8> kInputLabels = {"1", "2", "3", "4",
                                                                 "A", "B", "C", "D"};

// Input number 0..7 of a label "1".."4", "A".."D" (case-insensitive), or -1.
int InputOfLabel(std::string_view label);

}  // namespace tamix
