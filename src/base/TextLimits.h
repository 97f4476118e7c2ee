// Sizes of the fixed text fields shared by the engine and the user interface.
#pragma once

#include <cstddef>

namespace tamix {

// Limits count characters as the operator sees them; storage leaves room for
// four UTF-8 bytes per character so that no text is cut inside a character.
inline constexpr std::size_t kNameChars = 30;
inline constexpr std::size_t kUnitChars = 4;
inline constexpr std::size_t kCommentChars = 80;
inline constexpr std::size_t kNameBytes = kNameChars * 4 + 1;
inline constexpr std::size_t kUnitBytes = kUnitChars * 4 + 2;
inline constexpr std::size_t kCommentBytes = kCommentChars * 4 + 1;
// Room for any path the platform accepts (PATH_MAX on Linux).
inline constexpr std::size_t kPathBytes = 4096;

inline constexpr int kMaxChannels = 8;
inline constexpr int kMaxMarkers = 200;
inline constexpr int kBufferRows = 2048;

}  // namespace tamix
