// The engineering value of a sample, in one place and one order of operations.
#pragma once

#include <cstdint>

#include "base/ChannelInfo.h"

namespace tamix {

inline constexpr double kCountsPerVolt = 3276.8;

inline double EngineeringValue(int16_t sample, const ChannelInfo& channel) {
    return sample / kCountsPerVolt * channel.valueAt1V + channel.valueAt0V;
}

}  // namespace tamix
