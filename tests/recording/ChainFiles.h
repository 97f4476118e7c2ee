// Files of a split run for reader tests, made as the recorder makes them: a
// WinDaq file's bytes by hand, a text recording by the recorder's own writers;
// every file after the first begins with its "Continued from" marker.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"

namespace tamix::test {

inline constexpr double kPeriod = 0.002;
inline constexpr std::size_t kChannels = 2;

// The sample of channel k at scan s of the whole run: another on every scan
// of a file, a multiple of 4 so that WinDaq's event bits stay clear.
inline int16_t RunSample(int64_t s, std::size_t k) {
    return static_cast<int16_t>(((s * 37 + static_cast<int64_t>(k) * 5000) % 8000 - 4000) * 4);
}

struct PartMarker {
    int64_t scan = 0;
    std::string comment;
};

// One file of a chain as the recorder writes it.
struct Part {
    std::string name;
    int64_t scans = 0;
    std::vector<PartMarker> markers;
    std::size_t channels = kChannels;
    double period = kPeriod;
    uint16_t flags = 0;        // WinDaq header word 100
    std::string names = "In";  // channel k is named names + k
};

// Files of `lengths` scans, named and marked by hand as the chain's rule
// says: every file after the first begins with "Continued from" the one before
// at the whole run's scan index of its own first scan; each has a marker of
// its own at its scan 3.
inline std::vector<Part> ChainParts(const std::vector<int64_t>& lengths, const std::string& ext) {
    const char* stems[] = {"run", "run-0002", "run-0003", "run-0004"};
    std::vector<Part> parts;
    int64_t before = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        Part p;
        p.name = stems[i] + ext;
        p.scans = lengths[i];
        p.markers.push_back({0, i == 0 ? std::string("Acquisition start")
                                       : "Continued from " + parts[i - 1].name + " at scan " +
                                             std::to_string(before)});
        p.markers.push_back({3, "note " + std::to_string(i + 1)});
        parts.push_back(p);
        before += lengths[i];
    }
    return parts;
}

inline void WriteChainFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A WinDaq file holding scans [first, first + part.scans) of the run.
inline void WriteWdqPart(const std::string& path, int64_t first, const Part& part) {
    test::WdqBytesSpec s;
    s.channels = static_cast<int>(part.channels);
    s.channelByte = static_cast<uint8_t>(0x20 | part.channels);
    s.flags = part.flags;
    s.period = part.period;
    s.slopes = {1 / 819.2, 2 / 819.2, 3 / 819.2};
    s.intercepts = {0.0, 1.0, 2.0};
    s.units = {"V", "bar", "V"};
    for (int64_t i = 0; i < part.scans; ++i) {
        for (std::size_t k = 0; k < part.channels; ++k)
            s.samples.push_back(RunSample(first + i, k));
    }
    for (std::size_t k = 0; k < part.channels; ++k)
        s.annotations += part.names + std::to_string(k) + '\0';
    s.annotationSize = static_cast<uint16_t>(s.annotations.size());
    for (const PartMarker& m : part.markers) {
        if (m.scan == 0) {
            s.events.insert(s.events.end(), {0u, 1700000000u});
        } else {
            s.events.push_back(static_cast<uint32_t>(-m.scan));
        }
        s.events.push_back(0x80000000u | static_cast<uint32_t>(s.annotations.size()));
        s.annotations += m.comment + '\0';
    }
    WriteChainFile(path, test::MakeWdqBytes(s));
}

// A text recording and its info file, written by the recorder's own writers;
// the lines' times count from the file's first scan or, as another writer
// may, from the run's.
inline void WriteTextPart(const std::string& path, int64_t first, const Part& part, bool runTimes) {
    std::vector<ChannelInfo> channels(part.channels);
    for (std::size_t k = 0; k < part.channels; ++k)
        CopyText(channels[k].name, part.names + std::to_string(k), kNameChars);
    std::string text;
    char line[kMaxTextLine];
    for (int64_t i = 0; i < part.scans; ++i) {
        std::vector<int16_t> scan;
        for (std::size_t k = 0; k < part.channels; ++k) scan.push_back(RunSample(first + i, k));
        text.append(line,
                    FormatTextLine(line, runTimes ? first + i : i, part.period, scan, channels));
    }
    WriteChainFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    auto markers = std::make_unique<MarkerTable>();
    for (std::size_t m = 0; m < part.markers.size(); ++m) {
        markers->markerPos[m] = part.markers[m].scan;
        CopyText(markers->markerText[m], part.markers[m].comment, kCommentChars);
    }
    std::string error;
    auto info = DefaultFileOpener().Create(InfoFileName(path), error);
    ASSERT_TRUE(info) << error;
    ASSERT_TRUE(WriteInfoFile(*info, channels, *markers, static_cast<int>(part.markers.size()),
                              part.period) &&
                info->Close());
}

inline std::vector<std::string> WriteChain(const test::TempDir& dir,
                                           const std::vector<Part>& parts) {
    std::vector<std::string> paths;
    int64_t first = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        paths.push_back(dir.File(parts[i].name));
        if (parts[i].name.ends_with(".wdq")) {
            WriteWdqPart(paths.back(), first, parts[i]);
        } else {
            WriteTextPart(paths.back(), first, parts[i], i == 2);
        }
        first += parts[i].scans;
    }
    return paths;
}

}  // namespace tamix::test
