#include "dialogs/SplitEvery.h"

#include <charconv>

namespace tamix {

std::optional<double> ParseSplitEvery(std::string_view text) {
    double scale = 1.0;
    if (!text.empty()) {
        switch (text.back()) {
            case 's':
                scale = 1.0;
                break;
            case 'm':
                scale = 60.0;
                break;
            case 'h':
                scale = 3600.0;
                break;
            case 'd':
                scale = 86400.0;
                break;
            default:
                scale = 0.0;
                break;
        }
        if (scale != 0.0) {
            text.remove_suffix(1);
        } else {
            scale = 1.0;
        }
    }
    if (text.starts_with('+')) text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || r.ec != std::errc() || r.ptr != end) return std::nullopt;
    const double seconds = value * scale;
    // NaN fails both comparisons.
    if (!(seconds >= kMinSplitSeconds && seconds <= kMaxSplitSeconds)) return std::nullopt;
    return seconds;
}

std::string SplitEveryFault(std::string_view what, std::string_view text) {
    if (text.empty() || ParseSplitEvery(text)) return {};
    return std::string(what) + " " + std::string(text) +
           ": not a time from 1 s to 6000 h between files (a number with s, m, h or d, e.g. "
           "30s, 10m, 1h, 1d; a plain number is seconds)";
}

}  // namespace tamix
