// Samples on the wire in LSL's data protocol 1.10, and the two test patterns that open a feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamix {

// The first byte of a sample: its stamp follows, or the receiver deduces it
// (the previous stamp plus one sample period).
inline constexpr uint8_t kLslTagDeduced = 1;
inline constexpr uint8_t kLslTagStamped = 2;
// The stamp of both test-pattern samples.
inline constexpr double kLslTestPatternStamp = 123456.789;
// Byte orders as the handshake names them.
inline constexpr int kLslLittleEndian = 1234;
inline constexpr int kLslBigEndian = 4321;

// The bytes of a float32 sample of `count` values; `stamped` with its stamp.
inline constexpr std::size_t LslFloatSampleBytes(int count, bool stamped) {
    return 1 + (stamped ? 8 : 0) + 4 * static_cast<std::size_t>(count);
}
// The most bytes a string sample of one value of `textBytes` bytes takes.
inline constexpr std::size_t LslStringSampleBytes(std::size_t textBytes) {
    return 1 + 8 + 1 + 4 + textBytes;
}

// Writes a float32 sample at `out` (room for LslFloatSampleBytes) and returns
// its size; `swap` writes the other byte order than this machine's.
std::size_t EncodeFloatSample(char* out, bool stamped, double stamp, const float* values, int count,
                              bool swap);
// Writes a sample of string values (lengths as LSL's variable-length integers).
std::size_t EncodeStringSample(char* out, bool stamped, double stamp,
                               const std::string_view* values, int count, bool swap);

// The values of test pattern `offset` (4, then 2) for a stream of `count` channels.
std::vector<float> LslFloatTestPattern(int count, int offset);
std::vector<std::string> LslStringTestPattern(int count);

// This machine's byte order, as the handshake names it.
int LslNativeByteOrder();

}  // namespace tamix
