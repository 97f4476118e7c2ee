// Hand-made WinDaq files for reader tests: the header fields a reader uses, the
// samples as given, and a trailer of raw event words and annotation texts, so
// that forms Tamix never writes can be tried.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tamix::test {

struct WdqBytesSpec {
    uint8_t channelByte = 0x22;  // two channels, bit 5 set
    uint8_t channelByte1 = 0;    // set in headers with room for 144 channels or more
    int channels = 2;
    uint16_t flags = 0;  // header word at offset 100
    double period = 0.002;
    std::vector<double> slopes = {1 / 819.2, 2 / 819.2};
    std::vector<double> intercepts = {0.0, 1.0};
    std::vector<std::string> units = {"V", "\xB5V"};  // Windows-1252
    std::vector<int16_t> samples;                     // interleaved words as stored
    std::vector<uint32_t> events;                     // raw event-area words
    std::string annotations;                          // names with NULs, then comments
    uint16_t annotationSize = 0;                      // header's annotation size
    bool trailer = true;
    uint16_t headerBytes = 1156;   // foreign writers may pad it, even to an odd size
    uint32_t opened = 1700000000;  // when the writer opened the file
};

inline void PutLe(std::vector<uint8_t>& b, std::size_t at, const void* v, std::size_t n) {
    std::memcpy(b.data() + at, v, n);
}

inline std::vector<uint8_t> MakeWdqBytes(const WdqBytesSpec& s) {
    std::vector<uint8_t> b(s.headerBytes, 0);
    b[0] = s.channelByte;
    b[1] = s.channelByte1;
    b[4] = 110;
    b[5] = 36;
    PutLe(b, 6, &s.headerBytes, 2);
    const auto data = static_cast<uint32_t>(s.samples.size() * 2);
    PutLe(b, 8, &data, 4);
    const auto events = static_cast<uint32_t>(s.trailer ? s.events.size() * 4 : 0);
    PutLe(b, 12, &events, 4);
    PutLe(b, 16, &s.annotationSize, 2);
    PutLe(b, 28, &s.period, 8);
    PutLe(b, 36, &s.opened, 4);
    PutLe(b, 100, &s.flags, 2);
    for (int i = 0; i < s.channels; ++i) {
        const std::size_t e = 110 + 36 * static_cast<std::size_t>(i);
        const auto k = static_cast<std::size_t>(i);
        if (k < s.slopes.size()) PutLe(b, e + 8, &s.slopes[k], 8);
        if (k < s.intercepts.size()) PutLe(b, e + 16, &s.intercepts[k], 8);
        if (k < s.units.size())
            std::memcpy(b.data() + e + 24, s.units[k].data(), s.units[k].size());
    }
    for (const int16_t w : s.samples) {
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(w) & 0xFF));
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(w) >> 8));
    }
    if (s.trailer) {
        for (const uint32_t w : s.events) {
            for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(w >> (8 * k)));
        }
        b.insert(b.end(), s.annotations.begin(), s.annotations.end());
    }
    return b;
}

}  // namespace tamix::test
