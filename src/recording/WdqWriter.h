// The WinDaq binary file: the 1156-byte header, the interleaved samples and the
// trailer with event markers and annotation texts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "recording/OutputFile.h"

namespace tamix {

inline constexpr std::size_t kWdqHeaderBytes = 1156;
inline constexpr std::size_t kWdqDataSizeOffset = 8;

// The most scans a file with `channelCount` channels may hold: its data size
// must fit the 32-bit size field, and scan indexes must stay far below the
// comment pointers (2^31 and up) so that readers tell them apart. A multiple of 8.
int64_t MaxWdqScans(int channelCount);

// Fills `header` for `scans` scans of `channelCount` channels taken every
// `period` seconds, created at `creationTime` (seconds since 1970).
void BuildWdqHeader(std::span<uint8_t, kWdqHeaderBytes> header, int64_t scans, int channelCount,
                    double period, std::span<const ChannelInfo> channels, int64_t creationTime);

// The sample a file holds for `sample`: readers take sample >> 2 and the two
// lowest bits are event flags, so the stored word is the nearest multiple of 4.
// Rounding rather than clearing the bits keeps the average error at zero
// instead of -1.5 counts. Halfway values (2 mod 4) go to the neighbour that is
// a multiple of 8, so that ties lean neither way; the top, 32765 to 32767, has
// no neighbour above and stays at 32764.
constexpr int16_t RoundWdqSample(int16_t sample) {
    const int v = sample;
    int rounded = (v + 2) & ~3;
    if ((v & 3) == 2 && (rounded & 4) != 0) rounded -= 4;
    return static_cast<int16_t>(rounded > 32764 ? 32764 : rounded);
}

// The two bytes of a sample in the file: little-endian, rounded as above.
inline void PutWdqSample(uint8_t* out, int16_t sample) {
    const auto word = static_cast<uint16_t>(RoundWdqSample(sample));
    out[0] = static_cast<uint8_t>(word & 0xFF);
    out[1] = static_cast<uint8_t>(word >> 8);
}

// Appends the trailer for markers 0..markerCount-1 and patches the header's
// event-area size (offset 12) and annotation size (offset 16).
bool WriteWdqTrailer(OutputFile& file, const MarkerTable& markers, int markerCount,
                     std::span<const ChannelInfo> channels, int64_t creationTime);

// The same with the annotation texts given as stored (each channel's name in
// Windows-1252 with its NUL), so that a file's own names keep every byte.
bool WriteWdqTrailerWithAnnotations(OutputFile& file, const MarkerTable& markers, int markerCount,
                                    std::string_view annotations, int64_t creationTime);

// Writes `bytesWritten` at offset 8.
bool PatchWdqDataSize(OutputFile& file, uint64_t bytesWritten);

}  // namespace tamix
