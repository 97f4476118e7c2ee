#include "WdqReader.h"

#include <cstring>

namespace tamix::test {
namespace {

template <typename T>
T Get(const std::vector<uint8_t>& b, std::size_t offset) {
    T v{};
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

std::string CString(const std::vector<uint8_t>& b, std::size_t offset, std::size_t end) {
    std::string s;
    while (offset < end && b[offset] != 0) s.push_back(static_cast<char>(b[offset++]));
    return s;
}

}  // namespace

std::optional<WdqFile> ReadWdq(const std::vector<uint8_t>& b, std::string& error) {
    if (b.size() < 1156) {
        error = "shorter than a header";
        return std::nullopt;
    }
    WdqFile f;
    f.channelCount = Get<uint16_t>(b, 0) & 0x1F;
    const uint8_t entryOffset = b[4];
    const uint8_t entrySize = b[5];
    const uint16_t headerBytes = Get<uint16_t>(b, 6);
    f.dataBytes = Get<uint32_t>(b, 8);
    f.eventBytes = Get<uint32_t>(b, 12);
    f.annotationBytes = Get<uint16_t>(b, 16);
    f.period = Get<double>(b, 28);
    f.creationTime = Get<uint32_t>(b, 36);
    if (f.channelCount < 1 || f.channelCount > 29 || headerBytes != 1156 ||
        uint64_t{headerBytes} + f.dataBytes > b.size()) {
        error = "inconsistent header";
        return std::nullopt;
    }
    // Every entry must lie inside the header, whatever the crafted sizes say.
    if (entrySize < 30 ||
        entryOffset + static_cast<std::size_t>(entrySize) * (f.channelCount - 1) + 30 >
            headerBytes) {
        error = "channel entries beyond the header";
        return std::nullopt;
    }
    for (int i = 0; i < f.channelCount; ++i) {
        const std::size_t e = entryOffset + static_cast<std::size_t>(entrySize) * i;
        WdqChannel ch;
        ch.slope = Get<double>(b, e + 8);
        ch.intercept = Get<double>(b, e + 16);
        ch.unit = CString(b, e + 24, e + 30);
        f.channels.push_back(ch);
    }
    const std::size_t data = headerBytes;
    f.samples.resize(f.dataBytes / 2);
    if (!f.samples.empty()) std::memcpy(f.samples.data(), b.data() + data, f.samples.size() * 2);

    const std::size_t events = data + f.dataBytes;
    const std::size_t annotations = events + f.eventBytes;
    if (annotations + f.annotationBytes > b.size()) {
        error = "trailer beyond the end of the file";
        return std::nullopt;
    }
    std::size_t p = annotations;
    for (auto& ch : f.channels) {
        ch.name = CString(b, p, b.size());
        p += ch.name.size() + 1;
    }
    const int64_t scans = f.ScanCount();
    // Event pointers: -scan; a pointer >= 0 is followed by a time stamp; a value
    // at most -scans is a comment pointer for the marker before it.
    for (std::size_t q = events; q + 4 <= annotations;) {
        const int32_t v = Get<int32_t>(b, q);
        q += 4;
        if (v <= -scans && !f.markers.empty()) {
            const uint32_t offset = static_cast<uint32_t>(v) & 0x7FFFFFFF;
            f.markers.back().comment = CString(b, annotations + offset, b.size());
            continue;
        }
        WdqMarker m;
        m.scan = -static_cast<int64_t>(v);
        if (v >= 0) {
            m.scan = 0;
            if (q + 4 <= annotations) {
                m.timeStamp = Get<uint32_t>(b, q);
                q += 4;
            }
        }
        f.markers.push_back(m);
    }
    return f;
}

}  // namespace tamix::test
