// The label that says which input a channel comes from, shared by the strips,
// the readouts and the exports, so that channels of one name stay apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "base/ChannelInfo.h"

namespace tamix {

inline constexpr std::size_t kWholeLabel = std::numeric_limits<std::size_t>::max();

// "A: chn": the input's label, then the name. Only the input's label when the
// name is empty or is that label itself ("A"). A channel whose input is not
// known (`inputNumber` outside 0..7: most recordings store the order of their
// channels, not their inputs) is told by its place among the recorded
// channels instead, `position` 0 giving "#1: chn", the number that
// `tamix-file export --channels` takes. At most `maxChars` characters: the
// name is cut at a character boundary, the input always stays.
std::string ChannelLabel(std::string_view name, int32_t inputNumber, std::size_t position,
                         std::size_t maxChars = kWholeLabel);

inline std::string ChannelLabel(const ChannelInfo& channel, std::size_t position,
                                std::size_t maxChars = kWholeLabel) {
    return ChannelLabel(channel.Name(), channel.inputNumber, position, maxChars);
}

// "A: chn [Volt]": the label and the unit (without its padding), as a strip's
// name and a CSV column's title show them; no brackets without a unit.
std::string ChannelTitle(const ChannelInfo& channel, std::size_t position);

}  // namespace tamix
