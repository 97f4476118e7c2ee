// Readers of both formats whose file another program cuts short or lets grow
// after they opened it: every read past the new end is an error that names the
// file, never a fault; what is still there, and a file that only grew, read as
// they were when opened.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OpenRecording.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

constexpr int64_t kScans = 60000;  // both files are larger than any read-ahead window
constexpr std::size_t kChannels = 2;

void WriteBytes(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(data, 1, size, f), size);
    ASSERT_EQ(std::fclose(f), 0);
}

int16_t Word(int64_t scan, std::size_t channel) {
    return static_cast<int16_t>(((scan * 37 + static_cast<int64_t>(channel) * 1000) % 60000) -
                                30000) &
           static_cast<int16_t>(~3);
}

void MakeWdqOf(const std::string& path, int64_t scans, uint32_t opened) {
    test::WdqBytesSpec spec;
    spec.opened = opened;
    for (int64_t s = 0; s < scans; ++s) {
        for (std::size_t k = 0; k < kChannels; ++k) spec.samples.push_back(Word(s, k));
    }
    spec.slopes = {1 / 819.2, 1 / 819.2};  // volts, as the text file holds them
    spec.intercepts = {0.0, 0.0};
    spec.events = {0, 0};
    const std::vector<uint8_t> bytes = test::MakeWdqBytes(spec);
    WriteBytes(path, bytes.data(), bytes.size());
}

void MakeWdq(const std::string& path) {
    MakeWdqOf(path, kScans, 1700000000);
}

void MakeText(const std::string& path) {
    std::array<ChannelInfo, kChannels> channels{};
    std::string text;
    char line[kMaxTextLine];
    for (int64_t s = 0; s < kScans; ++s) {
        const std::array<int16_t, kChannels> v = {Word(s, 0), Word(s, 1)};
        text.append(line, FormatTextLine(line, s, 0.002, v, channels));
    }
    WriteBytes(path, text.data(), text.size());
}

struct Case {
    const char* what;
    const char* name;
    void (*make)(const std::string&);
    // The size the file is cut to, as a share of its size; negative: it grows.
    double keep;
    // Written anew in place, as a new recording onto the same name: longer,
    // opened a second later.
    bool rewritten = false;
};

const Case kCases[] = {
    {"WinDaq emptied", "a.wdq", MakeWdq, 0.0},
    {"WinDaq cut inside its header", "b.wdq", MakeWdq, 0.0005},
    {"WinDaq cut to half", "c.wdq", MakeWdq, 0.5},
    {"WinDaq grown", "d.wdq", MakeWdq, -1},
    {"WinDaq recorded anew", "e.wdq", MakeWdq, 0, true},
    {"text emptied", "a.dat", MakeText, 0.0},
    {"text cut inside line 1", "b.dat", MakeText, 0.000001},
    {"text cut to half", "c.dat", MakeText, 0.5},
    {"text grown", "d.dat", MakeText, -1},
};

TEST(FileChangedUnderReader, ReadsPastTheNewEndAreErrorsThatNameTheFile) {
    test::TempDir dir;
    for (const Case& c : kCases) {
        const std::string path = dir.File(c.name);
        c.make(path);
        std::string error;
        // What the file held, read before anything changed.
        auto before = OpenRecording(path, error);
        ASSERT_TRUE(before) << c.what << ": " << error;
        ASSERT_EQ(before->Info().scanCount, kScans) << c.what;
        std::vector<double> held(static_cast<std::size_t>(kScans) * kChannels);
        ASSERT_TRUE(before->ReadValues(0, kScans, held)) << c.what << ": " << before->Error();
        for (int64_t s = 0; s < kScans; s += 997) {
            ASSERT_NEAR(held[static_cast<std::size_t>(s) * kChannels + 1], Word(s, 1) / 3276.8,
                        5e-4)
                << c.what << " scan " << s;
        }

        auto reader = OpenRecording(path, error);
        auto builder = OpenRecording(path, error);
        ASSERT_TRUE(reader && builder) << c.what << ": " << error;
        const auto size = std::filesystem::file_size(path);
        if (c.rewritten) {
            MakeWdqOf(path, 2 * kScans, 1700000001);
        } else if (c.keep < 0) {
            // A recorder goes on appending, whole scans and a partial one.
            std::FILE* f = std::fopen(path.c_str(), "ab");
            ASSERT_NE(f, nullptr);
            const std::string more(4099, '7');
            std::fwrite(more.data(), 1, more.size(), f);
            std::fclose(f);
        } else {
            std::filesystem::resize_file(path, static_cast<uintmax_t>(size * c.keep));
        }
        const std::string changed = path + ": the file was changed by another program";

        std::vector<double> values(held.size());
        std::vector<int16_t> samples(held.size());
        MinMaxPyramid pyramid;
        const bool grown = c.keep < 0;
        EXPECT_EQ(reader->ReadValues(0, kScans, values), grown) << c.what;
        EXPECT_EQ(reader->Error(), grown ? "" : changed) << c.what;
        EXPECT_EQ(reader->ReadSamples(kScans - 10, 10, samples), grown) << c.what;
        EXPECT_EQ(reader->Error(), grown ? "" : changed) << c.what;
        EXPECT_EQ(pyramid.Build(*builder, {}, error), grown) << c.what;
        EXPECT_EQ(error, grown ? "" : changed) << c.what;
        error.clear();
        if (grown) {
            EXPECT_EQ(values, held) << c.what;
            EXPECT_EQ(reader->Info().scanCount, kScans) << c.what;
            std::vector<MinMax> whole(kChannels);
            ASSERT_TRUE(pyramid.Range(*reader, 0, kScans, whole)) << c.what;
            std::vector<MinMax> columns(1600 * kChannels);
            EXPECT_TRUE(pyramid.Columns(*reader, 100, 1700, 1600, columns)) << c.what;
        }
        if (c.keep >= 0.5) {
            // The scans still in the file read as they were.
            std::vector<double> first(10 * kChannels);
            ASSERT_TRUE(reader->ReadValues(0, 10, first)) << c.what << ": " << reader->Error();
            EXPECT_TRUE(std::equal(first.begin(), first.end(), held.begin())) << c.what;
        }
        // A reader opened after the cut sees the file as it now is.
        auto after = OpenRecording(path, error);
        if (c.rewritten) {
            ASSERT_TRUE(after) << c.what << ": " << error;
            EXPECT_EQ(after->Info().scanCount, 2 * kScans) << c.what;
        } else if (c.keep == 0) {
            EXPECT_FALSE(after) << c.what;
            EXPECT_EQ(error, path + ": the file is empty") << c.what;
        } else if (grown) {
            ASSERT_TRUE(after) << c.what << ": " << error;
            EXPECT_EQ(after->Info().scanCount, kScans) << c.what;
        } else if (c.keep >= 0.5) {
            ASSERT_TRUE(after) << c.what << ": " << error;
            EXPECT_GT(after->Info().scanCount, kScans / 3) << c.what;
            EXPECT_LT(after->Info().scanCount, kScans) << c.what;
            EXPECT_TRUE(after->Info().incomplete) << c.what;
        }
    }
}

}  // namespace
}  // namespace tamix
