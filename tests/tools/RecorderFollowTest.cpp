// A reader that follows tamix-record's file while it records, as the review
// window does: it sees the scans and the typed markers as they come, reads
// only what the unit sent, and after a kill -9 of the recorder still reads
// the file as far as it is whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "device/SignalGenerator.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPeriod = 0.002;  // the simulated KPR-T310
const std::vector<int> kInputs = {0, 1};

template <typename Condition>
bool WaitFor(Condition ready, std::chrono::seconds limit = 30s) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Every scan the reader gives is the one the unit meant to send.
void ExpectIntended(RecordingReader& reader, const std::string& label) {
    const int64_t scans = reader.Info().scanCount;
    const std::size_t n = kInputs.size();
    if (reader.Info().format == RecordingFormat::WinDaq) {
        std::vector<int16_t> samples(static_cast<std::size_t>(scans) * n);
        ASSERT_TRUE(reader.ReadSamples(0, scans, samples)) << reader.Error();
        for (int64_t s = 0; s < scans; ++s) {
            for (std::size_t k = 0; k < n; ++k) {
                const int16_t want = RoundWdqSample(SignalGenerator::IntendedSample(
                    kInputs[k], static_cast<double>(s) * kPeriod, 1));
                ASSERT_EQ(samples[static_cast<std::size_t>(s) * n + k] & ~3, want & ~3)
                    << label << " scan " << s;
            }
        }
        return;
    }
    std::vector<double> values(static_cast<std::size_t>(scans) * n);
    ASSERT_TRUE(reader.ReadValues(0, scans, values)) << reader.Error();
    for (int64_t s = 0; s < scans; ++s) {
        for (std::size_t k = 0; k < n; ++k) {
            const double want =
                SignalGenerator::IntendedSample(kInputs[k], static_cast<double>(s) * kPeriod, 1) /
                3276.8;
            ASSERT_NEAR(values[static_cast<std::size_t>(s) * n + k], want, 1e-3)
                << label << " scan " << s;
        }
    }
}

TEST(RecorderFollow, AFollowerSeesScansAndMarkersAsTheyComeAndAKilledRecordingStaysReadable) {
    for (const char* name : {"live.wdq", "live.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string out = dir.File(name);
        const std::string fifo = dir.File("stdin");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        // Open for reading too, so that neither side waits for the other.
        const int typing = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(typing, 0);
        test::ChildProcess rec({TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"),
                                "--simulate", "A30008SN", "--inputs", "1,2", "--format",
                                out.ends_with(".wdq") ? "wdq" : "text", "--time", "60", out},
                               fifo);
        // Until the first checkpoint a text recording has no whole line to read.
        std::string error;
        std::unique_ptr<RecordingReader> reader;
        ASSERT_TRUE(WaitFor([&] {
            if (!HeldByRecorder(out)) return false;
            reader = OpenRecording(out, error);
            EXPECT_TRUE(reader || error.find(kNoScanYetReason) != std::string::npos) << error;
            return reader != nullptr;
        })) << out
            << " never became readable: " << error;
        ASSERT_TRUE(reader->Info().beingRecorded);
        MinMaxPyramid overview;
        ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;

        const std::string typed = "valve opened\n";
        ASSERT_EQ(::write(typing, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        int64_t seen = reader->Info().scanCount;
        int growths = 0;
        bool markerSeen = false;
        const bool followed = WaitFor([&] {
            bool grew = false;
            if (!reader->Refresh(grew)) {
                ADD_FAILURE() << reader->Error();
                return true;
            }
            if (!grew) return false;
            EXPECT_TRUE(reader->Info().beingRecorded);
            EXPECT_GE(reader->Info().scanCount, seen) << "a follower never loses scans";
            growths += reader->Info().scanCount > seen ? 1 : 0;
            seen = reader->Info().scanCount;
            for (const RecordingMarker& m : reader->Info().markers) {
                markerSeen = markerSeen || m.comment == "valve opened";
            }
            EXPECT_TRUE(overview.Extend(*reader, error)) << error;
            return markerSeen && growths >= 2;
        });
        ASSERT_TRUE(followed) << "grew " << growths << " times, marker seen: " << markerSeen;

        rec.Signal(SIGKILL);
        ASSERT_EQ(rec.ExitCode(), 128 + SIGKILL);
        ::close(typing);
        bool grew = false;
        ASSERT_TRUE(reader->Refresh(grew)) << reader->Error();
        EXPECT_TRUE(grew) << "the end of the recording is news";
        EXPECT_FALSE(reader->Info().beingRecorded);
        EXPECT_TRUE(reader->Info().incomplete);
        EXPECT_GE(reader->Info().scanCount, seen);
        ASSERT_TRUE(overview.Extend(*reader, error)) << error;
        ExpectIntended(*reader, "followed");

        // What the follower shows is what a reader opened afresh shows.
        auto fresh = OpenRecording(out, error);
        ASSERT_TRUE(fresh) << error;
        EXPECT_EQ(fresh->Info().scanCount, reader->Info().scanCount);
        EXPECT_EQ(fresh->Info().markers.size(), reader->Info().markers.size());
        MinMaxPyramid built;
        ASSERT_TRUE(built.Build(*fresh, {}, error)) << error;
        constexpr int kColumns = 97;
        std::vector<MinMax> want(kColumns * kInputs.size());
        std::vector<MinMax> got(want.size());
        const int64_t scans = fresh->Info().scanCount;
        ASSERT_TRUE(built.Columns(*fresh, 0, scans, kColumns, want));
        ASSERT_TRUE(overview.Columns(*reader, 0, scans, kColumns, got));
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].min, want[i].min) << i;
            EXPECT_EQ(got[i].max, want[i].max) << i;
        }
    }
}

// A follower opened on a split run's first file goes on into the files that
// follow it: one recording, every scan of the stream in order.
TEST(RecorderFollow, AFollowerGoesOnAcrossTheSwitchesOfASplitRun) {
    test::TempDir dir;
    const std::string out = dir.File("split.wdq");
    test::ChildProcess rec({TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"),
                            "--simulate", "A30008SN", "--inputs", "1,2", "--split", "1s", "--time",
                            "4", out});
    std::string error;
    std::unique_ptr<RecordingReader> reader;
    ASSERT_TRUE(WaitFor([&] {
        if (!HeldByRecorder(out)) return false;
        reader = OpenRecording(out, error);
        return reader != nullptr;
    })) << out
        << " never became readable: " << error;
    MinMaxPyramid overview;
    ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;
    int64_t seen = reader->Info().scanCount;
    const bool ended = WaitFor([&] {
        bool grew = false;
        if (!reader->Refresh(grew)) {
            ADD_FAILURE() << reader->Error();
            return true;
        }
        EXPECT_GE(reader->Info().scanCount, seen);
        seen = reader->Info().scanCount;
        EXPECT_TRUE(overview.Extend(*reader, error)) << error;
        return !reader->Info().beingRecorded;
    });
    ASSERT_TRUE(ended) << "the follower never saw the run end";
    EXPECT_EQ(rec.ExitCode(), 0);
    EXPECT_GE(reader->Info().chainFiles.size(), 3u);
    EXPECT_FALSE(reader->Info().incomplete);
    ExpectIntended(*reader, "followed chain");

    auto fresh = OpenRecording(out, error);
    ASSERT_TRUE(fresh) << error;
    EXPECT_EQ(fresh->Info().chainFiles, reader->Info().chainFiles);
    EXPECT_EQ(fresh->Info().scanCount, reader->Info().scanCount);
    MinMaxPyramid built;
    ASSERT_TRUE(built.Build(*fresh, {}, error)) << error;
    constexpr int kColumns = 61;
    std::vector<MinMax> want(kColumns * kInputs.size());
    std::vector<MinMax> got(want.size());
    const int64_t scans = fresh->Info().scanCount;
    ASSERT_TRUE(built.Columns(*fresh, 0, scans, kColumns, want));
    ASSERT_TRUE(overview.Columns(*reader, 0, scans, kColumns, got));
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].min, want[i].min) << i;
        EXPECT_EQ(got[i].max, want[i].max) << i;
    }
}

}  // namespace
}  // namespace tamix
