#include "base/Clock.h"

#include <cstdio>

namespace tamix {

std::string FormatClock(int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace tamix
