#include "base/ChannelLabel.h"

#include "base/Utf8Text.h"

namespace tamix {
namespace {

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

std::string ChannelLabel(std::string_view name, int32_t inputNumber, std::size_t position,
                         std::size_t maxChars) {
    name = Trimmed(name);
    const bool known = inputNumber >= 0 && inputNumber < kMaxChannels;
    std::string label = known ? std::string(kInputLabels[static_cast<std::size_t>(inputNumber)])
                              : "#" + std::to_string(position + 1);
    const bool nameIsInput = known && InputOfLabel(name) == inputNumber;
    constexpr std::string_view kSeparator = ": ";
    const std::size_t prefix = label.size() + kSeparator.size();
    if (name.empty() || nameIsInput || maxChars <= prefix) return label;
    label += kSeparator;
    label += Utf8Prefix(name, maxChars - prefix, name.size());
    while (label.back() == ' ') label.pop_back();
    return label;
}

std::string ChannelTitle(const ChannelInfo& channel, std::size_t position) {
    std::string title = ChannelLabel(channel, position);
    const std::string_view unit = Trimmed(channel.Unit());
    if (!unit.empty()) title.append(" [").append(unit).append("]");
    return title;
}

}  // namespace tamix
