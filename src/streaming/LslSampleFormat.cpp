#include "streaming/LslSampleFormat.h"

#include <bit>
#include <cstring>

namespace tamix {
namespace {

void Put32(char*& out, uint32_t bits, bool swap) {
    if (swap) bits = __builtin_bswap32(bits);
    std::memcpy(out, &bits, 4);
    out += 4;
}

void Put64(char*& out, uint64_t bits, bool swap) {
    if (swap) bits = __builtin_bswap64(bits);
    std::memcpy(out, &bits, 8);
    out += 8;
}

char* Header(char* out, bool stamped, double stamp, bool swap) {
    *out++ = static_cast<char>(stamped ? kLslTagStamped : kLslTagDeduced);
    if (stamped) Put64(out, std::bit_cast<uint64_t>(stamp), swap);
    return out;
}

}  // namespace

int LslNativeByteOrder() {
    return std::endian::native == std::endian::little ? kLslLittleEndian : kLslBigEndian;
}

std::size_t EncodeFloatSample(char* out, bool stamped, double stamp, const float* values, int count,
                              bool swap) {
    char* p = Header(out, stamped, stamp, swap);
    if (!swap) {
        std::memcpy(p, values, 4 * static_cast<std::size_t>(count));
        p += 4 * static_cast<std::size_t>(count);
    } else {
        for (int k = 0; k < count; ++k) Put32(p, std::bit_cast<uint32_t>(values[k]), true);
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t EncodeStringSample(char* out, bool stamped, double stamp,
                               const std::string_view* values, int count, bool swap) {
    char* p = Header(out, stamped, stamp, swap);
    for (int k = 0; k < count; ++k) {
        const std::string_view v = values[k];
        if (v.size() <= 0xFF) {
            *p++ = 1;
            *p++ = static_cast<char>(static_cast<unsigned char>(v.size()));
        } else {
            *p++ = 4;
            Put32(p, static_cast<uint32_t>(v.size()), swap);
        }
        std::memcpy(p, v.data(), v.size());
        p += v.size();
    }
    return static_cast<std::size_t>(p - out);
}

std::vector<float> LslFloatTestPattern(int count, int offset) {
    std::vector<float> values(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const auto magnitude = static_cast<float>(k + offset);
        values[static_cast<std::size_t>(k)] = k % 2 == 0 ? magnitude : -magnitude;
    }
    return values;
}

std::vector<std::string> LslStringTestPattern(int count) {
    std::vector<std::string> values;
    values.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        values.push_back(std::to_string((k + 10) * (k % 2 == 0 ? 1 : -1)));
    return values;
}

}  // namespace tamix
