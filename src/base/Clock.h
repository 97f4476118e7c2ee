// The recorded-time text shown by the programs and written into pause markers.
#pragma once

#include <cstdint>
#include <string>

namespace tamix {

// "hh:mm:ss" of whole seconds; hours are not wrapped.
std::string FormatClock(int64_t seconds);

}  // namespace tamix
