// Windows only: the core's UTF-8 paths and texts to and from the UTF-16 of the
// system's W functions, and the system's reason for an error code in words.
#pragma once

#include <string>
#include <string_view>

namespace tamix {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// FormatMessage's text for a GetLastError() code, without the trailing full
// stop and line break, so that it reads like the other systems' reasons
// ("The system cannot find the path specified").
std::string WindowsErrorText(unsigned long code);

}  // namespace tamix
