// A recording read while it is being made: the readers take in what the
// recorder adds, and an overview extended step by step answers exactly as one
// built over the finished file.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OpenRecording.h"
#include "recording/SpanStatistics.h"

namespace tamix {
namespace {

// Holds a file as a recorder does (its record lock), from a descriptor of its own.
class RecorderHold {
  public:
    explicit RecorderHold(const std::string& path) : fd_(::open(path.c_str(), O_WRONLY)) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &whole), 0) << std::strerror(errno);
    }
    ~RecorderHold() { Release(); }
    RecorderHold(const RecorderHold&) = delete;
    RecorderHold& operator=(const RecorderHold&) = delete;
    void Release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

// Writes `bytes` over the file in place, as the recorder's appends and header
// updates do: the reader's descriptor keeps seeing the same file.
void WriteInPlace(const std::string& path, std::span<const uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// What a recorder's checkpoint leaves of the finished file `full`: the header
// counting the first `scans` scans, those scans, and no trailer yet.
std::vector<uint8_t> Checkpoint(const std::vector<uint8_t>& full, int64_t scans, int channels) {
    uint16_t header = 0;
    std::memcpy(&header, full.data() + 6, 2);
    const auto data = static_cast<uint32_t>(scans * 2 * channels);
    std::vector<uint8_t> b(full.begin(), full.begin() + header + data);
    std::memcpy(b.data() + 8, &data, 4);
    std::memset(b.data() + 12, 0, 6);  // event and annotation sizes
    return b;
}

void ExpectSameOverview(RecordingReader& followed, MinMaxPyramid& grown, RecordingReader& fresh,
                        MinMaxPyramid& built, std::mt19937& rng, const std::string& label) {
    const int64_t scans = fresh.Info().scanCount;
    ASSERT_EQ(followed.Info().scanCount, scans) << label;
    ASSERT_EQ(grown.Scans(), built.Scans()) << label;
    const std::size_t n = fresh.Info().channels.size();
    std::uniform_int_distribution<int64_t> at(0, scans - 1);
    for (int round = 0; round < 40; ++round) {
        int64_t a = at(rng);
        int64_t b = at(rng);
        if (a > b) std::swap(a, b);
        ++b;
        if (round == 0) a = 0, b = scans;
        const int columns = 1 + round * 7;
        std::vector<MinMax> want(static_cast<std::size_t>(columns) * n);
        std::vector<MinMax> got(want.size());
        ASSERT_TRUE(built.Columns(fresh, a, b, columns, want)) << label;
        ASSERT_TRUE(grown.Columns(followed, a, b, columns, got)) << label;
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(got[i].min, want[i].min) << label << " [" << a << ", " << b << ") " << i;
            ASSERT_EQ(got[i].max, want[i].max) << label << " [" << a << ", " << b << ") " << i;
        }
        std::vector<std::size_t> all(n);
        for (std::size_t k = 0; k < n; ++k) all[k] = k;
        SpanStatistics s1;
        SpanStatistics s2;
        std::string error;
        ASSERT_TRUE(ComputeSpanStatistics(fresh, built, a, b, all, s1, error)) << error;
        ASSERT_TRUE(ComputeSpanStatistics(followed, grown, a, b, all, s2, error)) << error;
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_EQ(s2.channels[k].mean, s1.channels[k].mean) << label << " channel " << k;
            EXPECT_EQ(s2.channels[k].rms, s1.channels[k].rms) << label << " channel " << k;
            EXPECT_EQ(s2.channels[k].minTime, s1.channels[k].minTime) << label;
        }
    }
}

TEST(RecordingGrowth, AWinDaqFileFollowedCheckpointByCheckpointReadsAsTheFinishedOne) {
    test::TempDir dir;
    std::mt19937 rng(77);
    constexpr int kChannels = 4;
    constexpr int kScans = 5 * 8192 + 1234;
    test::WdqBytesSpec spec;
    spec.channels = kChannels;
    spec.channelByte = 0x20 | kChannels;
    spec.slopes.assign(kChannels, 1 / 819.2);
    spec.intercepts.assign(kChannels, 0.5);
    spec.units.clear();
    std::uniform_int_distribution<int> noise(-300, 300);
    for (int s = 0; s < kScans; ++s) {
        for (int k = 0; k < kChannels; ++k) {
            spec.samples.push_back(static_cast<int16_t>(
                static_cast<int>(12000 * std::sin(s * 0.001 * (k + 1))) + noise(rng)));
        }
    }
    spec.events = {0, 0, 30000, 9};  // the start, and a marker at scan 30000
    const std::vector<uint8_t> full = test::MakeWdqBytes(spec);
    const std::string path = dir.File("growing.wdq");

    // Steps that end inside a base block, on a sum block, and not at all.
    const std::vector<int64_t> steps = {700, 700, 8192, 8193, 20000, 20000, 33333, kScans - 1};
    WriteInPlace(path, Checkpoint(full, steps[0], kChannels));
    RecorderHold hold(path);
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_TRUE(reader->Info().beingRecorded);
    MinMaxPyramid grown;
    ASSERT_TRUE(grown.Build(*reader, {}, error)) << error;
    int64_t seen = reader->Info().scanCount;
    for (std::size_t i = 1; i < steps.size(); ++i) {
        WriteInPlace(path, Checkpoint(full, steps[i], kChannels));
        bool grew = false;
        ASSERT_TRUE(reader->Refresh(grew)) << reader->Error();
        EXPECT_EQ(grew, steps[i] != seen) << "step " << i;
        EXPECT_EQ(reader->Info().scanCount, steps[i]);
        EXPECT_TRUE(reader->Info().beingRecorded);
        ASSERT_TRUE(grown.Extend(*reader, error)) << error;
        seen = steps[i];
    }
    // The recorder completes the file and lets go of it.
    WriteInPlace(path, full);
    hold.Release();
    bool grew = false;
    ASSERT_TRUE(reader->Refresh(grew)) << reader->Error();
    EXPECT_TRUE(grew);
    EXPECT_FALSE(reader->Info().beingRecorded);
    EXPECT_FALSE(reader->Info().incomplete);
    ASSERT_EQ(reader->Info().markers.size(), 2u);
    EXPECT_EQ(reader->Info().markers[1].scan, 30000);
    ASSERT_TRUE(grown.Extend(*reader, error)) << error;
    // Nothing more comes once the recording is complete.
    ASSERT_TRUE(reader->Refresh(grew));
    EXPECT_FALSE(grew);

    auto fresh = OpenRecording(path, error);
    ASSERT_TRUE(fresh) << error;
    MinMaxPyramid built;
    ASSERT_TRUE(built.Build(*fresh, {}, error)) << error;
    ExpectSameOverview(*reader, grown, *fresh, built, rng, "WinDaq");
}

TEST(RecordingGrowth, ATextFileFollowedLineByLineReadsAsTheFinishedOne) {
    test::TempDir dir;
    std::mt19937 rng(78);
    constexpr int kScans = 3 * 8192 + 99;
    std::string text;
    std::vector<std::size_t> lineEnds;
    for (int s = 0; s < kScans; ++s) {
        char line[96];
        std::snprintf(line, sizeof line, "%.3f %.4f %.4f\n", s * 0.001, 3 * std::sin(s * 0.01),
                      1.0 + 0.001 * (s % 17));
        text += line;
        lineEnds.push_back(text.size());
    }
    const std::string path = dir.File("growing.dat");
    const std::string info = dir.File("growing_info.txt");
    WriteInPlace(info, std::vector<uint8_t>{'C', 'h', 'a', 'n', 'n',  'e', 'l', ' ', 'n', 'a', 'm',
                                            'e', ':', ' ', 'a', '\n', 'C', 'h', 'a', 'n', 'n', 'e',
                                            'l', ' ', 'n', 'a', 'm',  'e', ':', ' ', 'b', '\n'});
    // Each step writes whole lines and half of the next, as a flush may.
    const auto upTo = [&](int64_t lines) {
        const std::size_t end = lineEnds[static_cast<std::size_t>(lines) - 1];
        const std::size_t half =
            lines < kScans ? (lineEnds[static_cast<std::size_t>(lines)] - end) / 2 : 0;
        return std::vector<uint8_t>(text.begin(),
                                    text.begin() + static_cast<std::ptrdiff_t>(end + half));
    };
    const std::vector<int64_t> steps = {3, 1024, 1025, 8192, 9000, 9000, 20000, kScans};
    WriteInPlace(path, upTo(steps[0]));
    RecorderHold hold(path);
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_TRUE(reader->Info().beingRecorded);
    MinMaxPyramid grown;
    ASSERT_TRUE(grown.Build(*reader, {}, error)) << error;
    for (std::size_t i = 1; i < steps.size(); ++i) {
        WriteInPlace(path, upTo(steps[i]));
        bool grew = false;
        ASSERT_TRUE(reader->Refresh(grew)) << reader->Error();
        EXPECT_EQ(grew, steps[i] != steps[i - 1]) << "step " << i;
        EXPECT_EQ(reader->Info().scanCount, steps[i]);
        ASSERT_TRUE(grown.Extend(*reader, error)) << error;
    }
    hold.Release();
    bool grew = false;
    ASSERT_TRUE(reader->Refresh(grew)) << reader->Error();
    EXPECT_TRUE(grew);
    EXPECT_FALSE(reader->Info().beingRecorded);
    EXPECT_EQ(reader->Info().channels[1].name.data(), std::string("b"));

    auto fresh = OpenRecording(path, error);
    ASSERT_TRUE(fresh) << error;
    MinMaxPyramid built;
    ASSERT_TRUE(built.Build(*fresh, {}, error)) << error;
    EXPECT_EQ(reader->Info().period, fresh->Info().period);
    ExpectSameOverview(*reader, grown, *fresh, built, rng, "text");
}

TEST(RecordingGrowth, AFileCutBelowWhatWasReadIsAFailureNotAShrink) {
    test::TempDir dir;
    test::WdqBytesSpec spec;
    spec.samples.assign(2 * 5000, 100);
    const std::vector<uint8_t> full = test::MakeWdqBytes(spec);
    const std::string path = dir.File("cut.wdq");
    WriteInPlace(path, Checkpoint(full, 5000, 2));
    RecorderHold hold(path);
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(::truncate(path.c_str(), 1156 + 4 * 100), 0);
    bool grew = true;
    EXPECT_FALSE(reader->Refresh(grew));
    EXPECT_NE(reader->Error().find("changed by another program"), std::string::npos)
        << reader->Error();
    EXPECT_EQ(reader->Info().scanCount, 5000) << "what was read stays";
}

}  // namespace
}  // namespace tamix
