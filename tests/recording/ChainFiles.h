// Files of a split run for reader tests, made by the recorder's own writers as
// a run split into several files leaves them: every file after the first
// begins with its "Continued from" marker.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

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

inline void WriteChainFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::unique_ptr<MarkerTable> MarkersOf(const Part& part) {
    auto markers = std::make_unique<MarkerTable>();
    for (std::size_t m = 0; m < part.markers.size(); ++m) {
        markers->markerPos[m] = part.markers[m].scan;
        CopyText(markers->markerText[m], part.markers[m].comment, kCommentChars);
    }
    return markers;
}

// A WinDaq file holding scans [first, first + part.scans) of the run, written
// by the recorder's own writers; channel k is calibrated 1V = k + 1, 0V = k.
inline void WriteWdqPart(const std::string& path, int64_t first, const Part& part) {
    constexpr int64_t kOpened = 1700000000;
    std::vector<ChannelInfo> channels(part.channels);
    for (std::size_t k = 0; k < part.channels; ++k) {
        CopyText(channels[k].name, part.names + std::to_string(k), kNameChars);
        CopyText(channels[k].unit, k == 1 ? "bar" : "V", kUnitChars);
        channels[k].valueAt1V = static_cast<double>(k + 1);
        channels[k].valueAt0V = static_cast<double>(k);
    }
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, part.scans, static_cast<int>(part.channels), part.period, channels,
                   kOpened);
    std::memcpy(header.data() + 100, &part.flags, sizeof part.flags);
    std::vector<uint8_t> data(static_cast<std::size_t>(part.scans) * part.channels * 2);
    for (int64_t i = 0; i < part.scans; ++i) {
        for (std::size_t k = 0; k < part.channels; ++k) {
            PutWdqSample(data.data() + (static_cast<std::size_t>(i) * part.channels + k) * 2,
                         RunSample(first + i, k));
        }
    }
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file) << error;
    const auto markers = MarkersOf(part);
    ASSERT_TRUE(file->Write(header.data(), header.size()) &&
                file->Write(data.data(), data.size()) &&
                WriteWdqTrailer(*file, *markers, static_cast<int>(part.markers.size()), channels,
                                kOpened) &&
                PatchWdqDataSize(*file, data.size()) && file->Close())
        << file->Error();
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
    WriteChainFile(path, text);
    const auto markers = MarkersOf(part);
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
