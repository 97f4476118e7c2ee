// Section and key names of the profile, in one place.
#pragma once

#include <string>
#include <string_view>

namespace tamix::profile {

inline constexpr std::string_view kOptions = "Options";
inline constexpr std::string_view kChannelInfo = "Channel info";
inline constexpr std::string_view kSystemSetup = "System setup";
inline constexpr std::string_view kRecentFiles = "Recent File List";
inline constexpr std::string_view kSettings = "Settings";

inline constexpr std::string_view kFreq = "freq";
inline constexpr std::string_view kFileType = "filetype";
inline constexpr std::string_view kTime = "time";
inline constexpr std::string_view kTimeUnit = "time unit";
inline constexpr std::string_view kPort = "port";
inline constexpr std::string_view kEightChannels = "chn8";
// Under Options: how often a recording begins its next file ("1h"); empty: never.
inline constexpr std::string_view kSplitEvery = "SplitEvery";
inline constexpr std::string_view kPreviewPages = "PreviewPages";
// Under Settings: 1 when the strips show their live numbers.
inline constexpr std::string_view kLiveNumbers = "LiveNumbers";

// "chn1".."chn8" under Options count inputs from 1.
inline std::string ChannelTicked(int input) {
    return "chn" + std::to_string(input + 1);
}
inline std::string Name(int input) {
    return "name" + std::to_string(input);
}
inline std::string Unit(int input) {
    return "unit" + std::to_string(input);
}
inline std::string ValueAt1V(int input) {
    return "1VValue" + std::to_string(input);
}
inline std::string ValueAt0V(int input) {
    return "0Value" + std::to_string(input);
}
inline std::string RecentFile(int n) {
    return "File" + std::to_string(n);
}

}  // namespace tamix::profile
