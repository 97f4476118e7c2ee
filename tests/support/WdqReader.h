// A small reader of WinDaq files as third-party readers decode them: channel
// calibration and units, counts (sample >> 2), annotations and event markers
// with their comments. Used to check recordings end to end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamix::test {

struct WdqMarker {
    int64_t scan = 0;
    std::optional<uint32_t> timeStamp;
    std::string comment;
};

struct WdqChannel {
    double slope = 0;
    double intercept = 0;
    std::string unit;
    std::string name;
};

struct WdqFile {
    int channelCount = 0;
    double period = 0;
    uint32_t dataBytes = 0;
    uint32_t eventBytes = 0;
    uint16_t annotationBytes = 0;
    uint32_t creationTime = 0;
    std::vector<WdqChannel> channels;
    std::vector<int16_t> samples;  // interleaved raw words
    std::vector<WdqMarker> markers;
    int64_t ScanCount() const { return channelCount ? samples.size() / channelCount : 0; }
    double Value(int64_t scan, int channel) const {
        const int16_t word = samples[scan * channelCount + channel];
        return (word >> 2) * channels[channel].slope + channels[channel].intercept;
    }
};

// nullopt with `error` set for a malformed file.
std::optional<WdqFile> ReadWdq(const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace tamix::test
