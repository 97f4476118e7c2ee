// The profile file's system side: reading its bytes and replacing it as a
// whole, so that a crash during a save leaves the old or the new profile.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tamix {

// The bytes of a profile file. A missing file is an empty profile without an
// error; anything but a regular file, or a file over kMaxProfileBytes, is
// refused with `error` set and never read to its end.
std::string ReadProfileText(const std::string& path, std::string& error);

// The reason given for a profile over kMaxProfileBytes, worded like the
// system's reasons so that callers show all of them alike.
std::string ProfileTooLargeReason();

// Replaces `target` (created when missing) with `content` through a temporary
// file next to it; false with the system's reason in `error`, the old file intact.
bool ReplaceProfileText(const std::filesystem::path& target, std::string_view content,
                        std::string& error);

}  // namespace tamix
