#include "recording/WdqWriter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/Utf8Text.h"

namespace tamix {
namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}
void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
void PutF32(uint8_t* p, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    Put32(p, v);
}
void PutF64(uint8_t* p, double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    Put64(p, v);
}

constexpr uint32_t kCommentFlag = 0x80000000u;

}  // namespace

int64_t MaxWdqScans(int channelCount) {
    const int n = std::clamp(channelCount, 1, kMaxChannels);
    const int64_t bySize = int64_t{0xFFFFFFFF} / (2 * n);
    const int64_t byPointer = int64_t{1} << 30;
    return std::min(bySize, byPointer) / 8 * 8;
}

void BuildWdqHeader(std::span<uint8_t, kWdqHeaderBytes> header, int64_t scans, int channelCount,
                    double period, std::span<const ChannelInfo> channels, int64_t creationTime) {
    // Cleared first so that equal recordings give equal headers.
    std::fill(header.begin(), header.end(), uint8_t{0});
    uint8_t* h = header.data();
    const auto n = static_cast<uint32_t>(channelCount);
    Put16(h + 0, n | 0x20);
    Put16(h + 2, n * 500);
    h[4] = 110;
    h[5] = 36;
    Put16(h + 6, kWdqHeaderBytes);
    const uint64_t dataBytes = static_cast<uint64_t>(std::max<int64_t>(scans, 0)) * 2 * n;
    Put32(h + 8, static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu)));
    Put32(h + 12, 0);
    Put16(h + 16, 0);
    Put16(h + 18, 412);
    Put16(h + 20, 552);
    Put16(h + 22, 0xFF34);
    h[24] = 1;
    h[25] = 1;
    h[26] = static_cast<uint8_t>(n);
    h[27] = 0;
    PutF64(h + 28, period);
    Put32(h + 36, static_cast<uint32_t>(creationTime));
    Put32(h + 40, static_cast<uint32_t>(creationTime + 1));
    Put32(h + 44, 4);
    Put16(h + 60, 0xFEF0);
    Put16(h + 62, 271);
    h[64] = 87;
    h[65] = 7;
    h[66] = 255;
    h[67] = 65;
    for (int k = 0; k < 32; ++k) h[68 + k] = static_cast<uint8_t>(k);
    for (uint32_t i = 0; i < n && i < channels.size(); ++i) {
        uint8_t* e = h + 110 + 36 * i;
        const ChannelInfo& ch = channels[i];
        PutF32(e + 0, 8.0f);
        PutF32(e + 4, 0.0f);
        PutF64(e + 8, ch.valueAt1V / 819.2);
        PutF64(e + 16, ch.valueAt0V);
        const std::string unit = ToWindows1252(ch.Unit());
        std::memcpy(e + 24, unit.data(), std::min<std::size_t>(unit.size(), 5));
        e[32] = static_cast<uint8_t>(i + 1);
    }
    Put16(h + 1154, 0x8001);
}

bool WriteWdqTrailer(OutputFile& file, const MarkerTable& markers, int markerCount,
                     std::span<const ChannelInfo> channels, int64_t creationTime) {
    // The texts in the readers' encoding; built once, after the sample loop.
    std::string names;
    for (const ChannelInfo& ch : channels) {
        names += ToWindows1252(ch.Name());
        names.push_back('\0');
    }
    return WriteWdqTrailerWithAnnotations(file, markers, markerCount, names, creationTime);
}

bool WriteWdqTrailerWithAnnotations(OutputFile& file, const MarkerTable& markers, int markerCount,
                                    std::string_view annotations, int64_t creationTime) {
    markerCount = std::clamp(markerCount, 0, kMaxMarkers);
    std::string comments;
    std::string events;
    uint32_t offset = static_cast<uint32_t>(annotations.size());
    const auto put32 = [&events](uint32_t v) {
        uint8_t b[4];
        Put32(b, v);
        events.append(reinterpret_cast<const char*>(b), 4);
    };
    for (int m = 0; m < markerCount; ++m) {
        const int64_t pos = markers.markerPos[m];
        if (pos <= 0) {
            // Readers take a pointer of 0 as followed by a time stamp.
            const int64_t wall = markers.markerWallTime[m];
            const int64_t stamp =
                (m == 0 || wall <= 0) ? 0 : std::max<int64_t>(wall - creationTime, 0);
            put32(0);
            put32(static_cast<uint32_t>(stamp));
        } else {
            put32(static_cast<uint32_t>(-static_cast<int32_t>(pos)));
        }
        put32(offset | kCommentFlag);
        const std::string text = ToWindows1252(markers.Text(m));
        comments += text;
        comments.push_back('\0');
        offset += static_cast<uint32_t>(text.size() + 1);
    }
    if (markerCount == 0) events.assign(8, '\0');

    bool ok = file.Write(events.data(), events.size());
    ok = ok && file.Write(annotations.data(), annotations.size());
    ok = ok && file.Write(comments.data(), comments.size());
    uint8_t patch[4];
    Put32(patch, static_cast<uint32_t>(events.size()));
    ok = ok && file.PatchAt(12, patch, 4);
    Put16(patch, static_cast<uint32_t>(annotations.size()));
    ok = ok && file.PatchAt(16, patch, 2);
    return ok;
}

bool PatchWdqDataSize(OutputFile& file, uint64_t bytesWritten) {
    uint8_t patch[4];
    Put32(patch, static_cast<uint32_t>(std::min<uint64_t>(bytesWritten, 0xFFFFFFFFu)));
    return file.PatchAt(kWdqDataSizeOffset, patch, 4);
}

}  // namespace tamix
