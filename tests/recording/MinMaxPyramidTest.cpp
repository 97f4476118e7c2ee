#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "base/MarkerTable.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OutputFile.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqFileReader.h"

namespace tamix {
namespace {

constexpr int kShift = 4;  // blocks of 16 scans, so that short files have many levels
constexpr int64_t kBlock = int64_t{1} << kShift;

void WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Every channel's min and max over [first, last) by brute force on the values
// the reader gives, as floats like the summary's.
std::vector<MinMax> Reference(const std::vector<double>& all, std::size_t channels, int64_t first,
                              int64_t last) {
    std::vector<MinMax> out(channels, MinMax{INFINITY, -INFINITY});
    for (int64_t s = first; s < last; ++s) {
        for (std::size_t k = 0; k < channels; ++k) {
            const auto v = static_cast<float>(all[static_cast<std::size_t>(s) * channels + k]);
            out[k].min = std::min(out[k].min, v);
            out[k].max = std::max(out[k].max, v);
        }
    }
    return out;
}

// Compares Range on random ranges, and Columns column by column on random
// spans and zooms (always some at the file's end), with the brute force.
void CheckAgainstReference(RecordingReader& reader, MinMaxPyramid& pyramid, std::mt19937& rng,
                           const std::string& label) {
    const int64_t scans = reader.Info().scanCount;
    const std::size_t n = reader.Info().channels.size();
    std::vector<double> all(static_cast<std::size_t>(scans) * n);
    ASSERT_TRUE(reader.ReadValues(0, scans, all));
    if (scans == 0) {
        std::vector<MinMax> none(n);
        EXPECT_FALSE(pyramid.Range(reader, 0, 1, none));
        return;
    }
    std::uniform_int_distribution<int64_t> at(0, scans - 1);
    for (int trial = 0; trial < 200; ++trial) {
        int64_t a = at(rng);
        int64_t b = trial % 4 == 0 ? scans : at(rng) + 1;
        if (a >= b) std::swap(a, b), ++b;
        b = std::min(b, scans);
        if (a >= b) continue;
        std::vector<MinMax> got(n);
        ASSERT_TRUE(pyramid.Range(reader, a, b, got));
        const auto want = Reference(all, n, a, b);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(got[k].min, want[k].min) << label << " [" << a << "," << b << ") " << k;
            ASSERT_EQ(got[k].max, want[k].max) << label << " [" << a << "," << b << ") " << k;
        }
    }
    const auto checkColumns = [&](int64_t first, int64_t last, int columns) {
        std::vector<MinMax> got(static_cast<std::size_t>(columns) * n);
        ASSERT_TRUE(pyramid.Columns(reader, first, last, columns, got));
        ASSERT_EQ(pyramid.ColumnStart(first, last, columns, 0), first);
        ASSERT_EQ(pyramid.ColumnStart(first, last, columns, columns), last);
        const bool wide = (last - first) / columns >= 2 * kBlock;
        for (int c = 0; c < columns; ++c) {
            const int64_t a = pyramid.ColumnStart(first, last, columns, c);
            const int64_t next = pyramid.ColumnStart(first, last, columns, c + 1);
            const int64_t even = first + (last - first) * c / columns;
            ASSERT_LE(a, next);
            if (wide && c > 0) {
                ASSERT_EQ(a % kBlock, 0) << label << " column " << c;
                ASSERT_LE(std::abs(a - even), kBlock / 2);
            } else {
                ASSERT_EQ(a, even);
            }
            const int64_t b = std::min(std::max(next, a + 1), scans);
            const auto want = Reference(all, n, a, b);
            for (std::size_t k = 0; k < n; ++k) {
                const MinMax& g = got[static_cast<std::size_t>(c) * n + k];
                ASSERT_EQ(g.min, want[k].min) << label << " column " << c << " of " << columns
                                              << " over [" << first << "," << last << ")";
                ASSERT_EQ(g.max, want[k].max) << label << " column " << c;
            }
        }
    };
    for (int trial = 0; trial < 40; ++trial) {
        const int columns = std::array{1, 3, 7, 50, 333}[static_cast<std::size_t>(trial % 5)];
        int64_t first = at(rng);
        int64_t last = trial % 3 == 0 ? scans : at(rng) + 1;
        if (first >= last) std::swap(first, last), ++last;
        last = std::min(last, scans);
        if (first >= last) continue;
        checkColumns(first, last, columns);
    }
    // A screen of columns just under two blocks wide: every scan is read, in
    // more than one read where the file is long enough, and columns meet
    // inside a read as well as across two.
    for (const int64_t perColumn : {int64_t{1}, 2 * kBlock - 1}) {
        const int64_t first = scans / 7;
        checkColumns(first, std::min(scans, first + perColumn * 1600), 1600);
    }
}

struct WdqCase {
    int channels;
    int scans;
    bool hiRes;
    double slope;  // of every channel, in the file's units (volts per count >> 2)
    uint16_t headerBytes = 1156;
};

// Lengths around the block size and a partial last block; every channel count
// the fast scan has a loop for and one beyond; files long enough to be shared
// between threads; HiRes samples and samples with event bits set; a falling
// calibration, whose smallest sample gives the largest value; a foreign header
// of odd length.
const WdqCase kWdqCases[] = {
    {2, 0, false, 1 / 819.2},
    {2, 1, false, 1 / 819.2},
    {2, 15, false, 1 / 819.2},
    {2, 16, false, 1 / 819.2},
    {2, 17, false, 1 / 819.2},
    {2, 4097, false, 1 / 819.2},
    {1, 5003, false, -3 / 819.2},
    {3, 3001, true, 2 / 819.2},
    {5, 2000, false, 0.5 / 819.2},
    {7, 1999, true, -1 / 819.2},
    {8, 150001, false, 1 / 819.2},
    {9, 1500, false, 1 / 819.2},
    {8, 20000, true, 0.0},
    // Samples at an odd offset cannot be viewed in place and are copied.
    {4, 3000, false, 1 / 819.2, 1157},
};

TEST(MinMaxPyramid, WinDaqSummariesMatchABruteForceScan) {
    test::TempDir dir;
    std::mt19937 rng(12345);
    for (const WdqCase& c : kWdqCases) {
        const std::string label = std::to_string(c.channels) + " channels, " +
                                  std::to_string(c.scans) + " scans" + (c.hiRes ? ", HiRes" : "");
        test::WdqBytesSpec spec;
        spec.channels = c.channels;
        spec.channelByte = static_cast<uint8_t>(0x20 | c.channels);
        spec.flags = c.hiRes ? 0x0002 : 0;
        spec.slopes.assign(static_cast<std::size_t>(c.channels), c.slope);
        spec.intercepts.assign(static_cast<std::size_t>(c.channels), 0.25);
        spec.units.clear();
        spec.headerBytes = c.headerBytes;
        // Mostly a slow wave, with random spikes that only a few scans hold.
        std::uniform_int_distribution<int> word(-32768, 32767);
        std::uniform_int_distribution<int> spike(0, 999);
        for (int s = 0; s < c.scans; ++s) {
            for (int k = 0; k < c.channels; ++k) {
                const int wave = static_cast<int>(20000 * std::sin(s * 0.001 * (k + 1)));
                spec.samples.push_back(
                    static_cast<int16_t>(spike(rng) < 5 ? word(rng) : wave + word(rng) % 64));
            }
        }
        spec.events = {0, 0};
        const std::string path = dir.File(std::to_string(&c - kWdqCases) + ".wdq");
        WriteFile(path, test::MakeWdqBytes(spec));
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        ASSERT_TRUE(reader) << error;
        ASSERT_EQ(reader->Info().scanCount, c.scans);
        ASSERT_EQ(reader->Info().hiRes, c.hiRes);

        MinMaxPyramid pyramid(kShift);
        int64_t reported = -1;
        ASSERT_TRUE(pyramid.Build(
            *reader,
            [&](int64_t done, int64_t total) {
                EXPECT_GE(done, reported) << label;
                EXPECT_EQ(total, c.scans);
                reported = done;
                return true;
            },
            error))
            << error;
        EXPECT_EQ(reported, c.scans) << label;
        // 16-bit extents: four bytes per channel and block, about twice over the levels.
        EXPECT_LE(pyramid.MemoryBytes(),
                  static_cast<std::size_t>(c.scans / kBlock) * c.channels * 4 * 2 + 1);
        CheckAgainstReference(*reader, pyramid, rng, label);
    }
}

// The threads that share a large file stop when the caller cancels, and the
// summary is then empty rather than half built.
TEST(MinMaxPyramid, CancellingStopsTheBuild) {
    test::TempDir dir;
    test::WdqBytesSpec spec;
    spec.samples.assign(2 * 400000, 100);
    spec.events = {0, 0};
    const std::string path = dir.File("long.wdq");
    WriteFile(path, test::MakeWdqBytes(spec));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    MinMaxPyramid pyramid(kShift);
    int calls = 0;
    EXPECT_FALSE(pyramid.Build(
        *reader,
        [&](int64_t, int64_t) {
            ++calls;
            return false;
        },
        error));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(error, path + ": cancelled");
    EXPECT_EQ(pyramid.MemoryBytes(), 0U);
    // Cancelled at the last report, when every thread is done, it still cancels.
    calls = 0;
    const int64_t scans = reader->Info().scanCount;
    EXPECT_FALSE(pyramid.Build(
        *reader,
        [&](int64_t done, int64_t) {
            ++calls;
            return done < scans;
        },
        error));
    EXPECT_GE(calls, 1);
    EXPECT_EQ(pyramid.MemoryBytes(), 0U);
}

// A file cut shorter after it was opened (a recorder's disk filling up under
// a review, a copy overwritten) is an error that names it, not a crash.
TEST(MinMaxPyramid, AFileThatShrinksAfterOpeningIsAnError) {
    test::TempDir dir;
    test::WdqBytesSpec spec;
    spec.samples.assign(2 * 300000, -100);
    spec.events = {0, 0};
    const std::string path = dir.File("shrinking.wdq");
    WriteFile(path, test::MakeWdqBytes(spec));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    std::filesystem::resize_file(path, 1156 + 4 * 1000);
    MinMaxPyramid pyramid(kShift);
    EXPECT_FALSE(pyramid.Build(*reader, {}, error));
    EXPECT_EQ(error, path + ": the file was changed by another program");
}

// Text recordings are summarised from their engineering values.
TEST(MinMaxPyramid, TextSummariesMatchABruteForceScan) {
    test::TempDir dir;
    std::mt19937 rng(777);
    const std::string path = dir.File("run.dat");
    std::array<ChannelInfo, 3> channels{};
    channels[1].valueAt1V = -100;
    channels[2].valueAt0V = 3;
    std::string text;
    char line[kMaxTextLine];
    std::uniform_int_distribution<int> word(-32768, 32767);
    for (int64_t s = 0; s < 2345; ++s) {
        const std::array<int16_t, 3> v = {static_cast<int16_t>(word(rng)),
                                          static_cast<int16_t>(s * 13 - 15000),
                                          static_cast<int16_t>(word(rng) / 16)};
        text.append(line, FormatTextLine(line, s, 0.001, v, channels));
    }
    WriteFile(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    std::string error;
    auto reader = TextFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(reader->Info().scanCount, 2345);
    MinMaxPyramid pyramid(kShift);
    ASSERT_TRUE(pyramid.Build(*reader, {}, error)) << error;
    CheckAgainstReference(*reader, pyramid, rng, "text");
}

}  // namespace
}  // namespace tamix
