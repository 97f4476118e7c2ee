#include "recording/ByteCopy.h"

#include <algorithm>
#include <vector>

namespace tamix {

bool CopyBytes(const ByteReader& read, uint64_t from, uint64_t count, OutputFile& to,
               std::string& readError) {
    readError.clear();
    constexpr uint64_t kChunk = uint64_t{1} << 20;
    std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min(kChunk, count)));
    for (uint64_t done = 0; done < count;) {
        const auto n = static_cast<std::size_t>(std::min(kChunk, count - done));
        if (!read(from + done, std::span(chunk).first(n), readError)) return false;
        if (!to.Write(chunk.data(), n)) return false;
        done += n;
    }
    return true;
}

}  // namespace tamix
