// Copies a stretch of a file being read into a file being written, a
// megabyte at a time, so that a recording of any size is copied in bounded memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "recording/OutputFile.h"

namespace tamix {

// Copies `out.size()` bytes at `offset`; false with `error` ("FILE: reason").
using ByteReader = std::function<bool(uint64_t offset, std::span<uint8_t> out, std::string& error)>;

// Appends bytes [from, from + count) of `read` to `to`. False when either
// side fails: `readError` then holds the reader's message after a failed read
// and is empty after a failed write (whose reason is to.Error()).
bool CopyBytes(const ByteReader& read, uint64_t from, uint64_t count, OutputFile& to,
               std::string& readError);

}  // namespace tamix
