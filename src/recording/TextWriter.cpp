#include "recording/TextWriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "recording/EngineeringValue.h"
#include "recording/NumberFormat.h"

namespace tamix {

std::size_t FormatTextLine(char* out, int64_t scanIndex, double period,
                           std::span<const int16_t> samples,
                           std::span<const ChannelInfo> channels) {
    char* p = out;
    p += FormatFixed3(static_cast<double>(scanIndex) * period, p);
    *p++ = ' ';
    const std::size_t n = std::min(samples.size(), channels.size());
    for (std::size_t k = 0; k < n; ++k) {
        p += FormatG4(EngineeringValue(samples[k], channels[k]), p);
        *p++ = ' ';
    }
    *p++ = '\r';
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

std::string InfoFileName(std::string_view dataFileName) {
    const std::size_t slash = dataFileName.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::string name(dataFileName);
    const std::size_t dat = dataFileName.find(".dat", base);
    if (dat != std::string_view::npos) name.resize(dat);
    return name + "_info.txt";
}

bool WriteInfoFile(OutputFile& file, std::span<const ChannelInfo> channels,
                   const MarkerTable& markers, int markerCount, double period) {
    std::string text;
    for (const ChannelInfo& ch : channels) {
        text += "Channel name: ";
        text += ch.Name();
        text += "\r\n";
    }
    char number[kMaxNumberChars];
    for (int m = 0; m < std::clamp(markerCount, 0, kMaxMarkers); ++m) {
        text += "Marker #";
        const auto r = std::to_chars(number, number + sizeof number, m);
        text.append(number, r.ptr);
        text += ": ";
        text += markers.Text(m);
        text += " at ";
        text.append(number,
                    FormatFixed3(static_cast<double>(markers.markerPos[m]) * period, number));
        text += " sec\r\n";
    }
    return file.Write(text.data(), text.size());
}

}  // namespace tamix
