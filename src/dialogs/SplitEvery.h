// How often a recording begins its next file, as typed ("30s", "10m", "1h",
// "1d", or plain seconds): shared by the recorder's --split and the profile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tamix {

// The shortest and longest time between files, in seconds: shorter files
// would leave no time to make the next one ahead.
inline constexpr double kMinSplitSeconds = 1.0;
inline constexpr double kMaxSplitSeconds = 6000.0 * 3600.0;

// The seconds `text` gives: a number (C locale, nothing around it) with one
// of the units s, m, h or d, or none for seconds; nullopt for anything else
// and for a time out of the range above.
std::optional<double> ParseSplitEvery(std::string_view text);

// Why `text` is no time between files, naming `what` (the option or the
// profile key), or empty when it is one or empty (no split).
std::string SplitEveryFault(std::string_view what, std::string_view text);

}  // namespace tamix
