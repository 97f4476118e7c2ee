// The bytes of the instrument's protocol and the shape of its sample blocks,
// the one list that the host side and the simulated units both speak from.
#pragma once

#include <cstdint>

namespace tamix {

// Every command starts with this byte; the unit echoes it.
inline constexpr uint8_t kCommandPrefix = '$';
// After the prefix: program the channels (a list or an input mask follows).
inline constexpr uint8_t kProgramChannels = 'C';
// After the prefix: start streaming scans.
inline constexpr uint8_t kStartStreaming = 'S';
// While streaming: asks for the next block of sample bytes.
inline constexpr uint8_t kBlockRequest = 0x00;
// Ends streaming; no reply.
inline constexpr uint8_t stopByte = 0x1B;

// A channel list names inputs 0..7; a larger number is sent as the last input.
inline constexpr int kHighestInput = 7;
// An input mask is one byte per input, 1 when selected.
inline constexpr int kInputMaskBytes = 8;

// Each block request is answered with this many bytes; a batch is one block
// per selected channel and holds this many scans.
inline constexpr int kBlockBytes = 16;
inline constexpr int kScansPerBatch = 8;
// Each sample word is two bytes, high byte first.
inline constexpr int kSampleWordBytes = 2;

}  // namespace tamix
