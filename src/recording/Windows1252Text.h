// Windows-1252 text, as WinDaq files store names, units and comments, decoded
// to the UTF-8 used everywhere else.
#pragma once

#include <string>
#include <string_view>

namespace tamix {

// Bytes undefined in Windows-1252 become U+FFFD.
std::string FromWindows1252(std::string_view text);

}  // namespace tamix
