// The text data file (one line per scan: time and engineering values) and the
// info file with channel names and markers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "recording/OutputFile.h"

namespace tamix {

// Longest line: the time, eight values and the line end.
inline constexpr std::size_t kMaxTextLine = 16 + 9 * 34;

// Formats the line of scan `scanIndex`; returns its length.
std::size_t FormatTextLine(char* out, int64_t scanIndex, double period,
                           std::span<const int16_t> samples, std::span<const ChannelInfo> channels);

// The info file's name: the data file's name cut at the first ".dat" within its
// own last path component, then "_info.txt".
std::string InfoFileName(std::string_view dataFileName);

bool WriteInfoFile(OutputFile& file, std::span<const ChannelInfo> channels,
                   const MarkerTable& markers, int markerCount, double period);

}  // namespace tamix
