// Recordings survive the recorder's end however it comes: a kill at any
// moment leaves a file that readers take up to about a second before the kill,
// signals complete the file, a second recorder cannot touch it, and a start
// that fails or is refused leaves an existing file as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/ChannelInfo.h"
#include "device/SignalGenerator.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPeriod = 0.002;  // the simulated KPR-T310
const std::vector<int> kInputs = {0, 1};

class SurvivalTest : public ::testing::Test {
  protected:
    std::vector<std::string> Recorder(const std::string& out, const std::string& seconds,
                                      const std::string& unit = "A30008SN") {
        const bool text = out.ends_with(".dat");
        return {TAMIX_RECORD_PATH,
                "--quiet",
                "--profile",
                dir.File("p.INI"),
                "--simulate",
                unit,
                "--inputs",
                "1,2",
                "--format",
                text ? "text" : "wdq",
                "--time",
                seconds,
                out};
    }
    // Waits until `path` exists with at least `bytes`; the time it was seen.
    Clock::time_point WaitForFile(const std::string& path, uintmax_t bytes) {
        const auto deadline = Clock::now() + 20s;
        std::error_code ec;
        while (Clock::now() < deadline) {
            if (fs::exists(path, ec) && fs::file_size(path, ec) >= bytes) return Clock::now();
            std::this_thread::sleep_for(2ms);
        }
        ADD_FAILURE() << path << " never appeared";
        return Clock::now();
    }
    // Waits until the recorder's first checkpoint shows in `path`: scans on
    // disk and, for a WinDaq file, counted by its header.
    void WaitForCheckpoint(const std::string& path, bool binary) {
        const auto deadline = Clock::now() + 20s;
        while (Clock::now() < deadline) {
            const std::vector<uint8_t> bytes = test::ReadBytes(path);
            uint32_t counted = 0;
            if (binary && bytes.size() >= 1156) std::memcpy(&counted, bytes.data() + 8, 4);
            if (binary ? counted > 0 : !bytes.empty()) return;
            std::this_thread::sleep_for(5ms);
        }
        ADD_FAILURE() << path << ": no checkpoint within 20 s";
    }
    // Every scan is the one the unit meant to send at its instant: nothing invented.
    static void ExpectIntended(const test::WdqFile& f) {
        for (int64_t scan = 0; scan < f.ScanCount(); ++scan) {
            for (std::size_t k = 0; k < kInputs.size(); ++k) {
                const int16_t want = SignalGenerator::IntendedSample(
                    kInputs[k], static_cast<double>(scan) * kPeriod, 1);
                ASSERT_EQ(f.samples[scan * kInputs.size() + k], RoundWdqSample(want))
                    << "scan " << scan;
            }
        }
    }
    // The lines of a text recording, each checked against what the writer
    // makes of the intended scan; their count.
    static int64_t CheckTextLines(const std::string& path) {
        const std::string text = test::ReadText(path);
        std::array<ChannelInfo, 2> channels{};
        std::array<char, kMaxTextLine> line{};
        std::size_t at = 0;
        int64_t scan = 0;
        while (at < text.size()) {
            std::array<int16_t, 2> samples{};
            for (std::size_t k = 0; k < 2; ++k)
                samples[k] = SignalGenerator::IntendedSample(
                    kInputs[k], static_cast<double>(scan) * kPeriod, 1);
            const std::size_t len = FormatTextLine(line.data(), scan, kPeriod, samples, channels);
            EXPECT_EQ(text.compare(at, len, line.data(), len), 0)
                << "line " << scan << " is not whole or not what the unit sent";
            if (text.compare(at, len, line.data(), len) != 0) return scan;
            at += len;
            ++scan;
        }
        return scan;
    }

    test::TempDir dir;
};

TEST_F(SurvivalTest, AKilledRecordingReadsUpToAboutASecondBeforeTheKill) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> moment(0.2, 2.6);
    // The second kill of each format always lands after a checkpoint, where a
    // fault in what a checkpoint leaves on disk shows.
    std::uniform_real_distribution<double> afterCheckpoint(0.0, 1.4);
    for (const char* ext : {".wdq", ".dat"}) {
        for (int round = 0; round < 2; ++round) {
            const std::string out = dir.File("killed" + std::to_string(round) + ext);
            const bool binary = std::string(ext) == ".wdq";
            test::ChildProcess rec(Recorder(out, "60"));
            // Recording has begun once its file exists: it is created with the
            // unit's first scans (a WinDaq file with its header).
            const auto begun = WaitForFile(out, binary ? 1156 : 0);
            if (round == 0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(moment(rng)));
            } else {
                WaitForCheckpoint(out, binary);
                std::this_thread::sleep_for(std::chrono::duration<double>(afterCheckpoint(rng)));
            }
            rec.Signal(SIGKILL);
            const auto killed = Clock::now();
            ASSERT_EQ(rec.ExitCode(), 128 + SIGKILL);
            const double ran = std::chrono::duration<double>(killed - begun).count();
            // A second between updates, and a little for a loaded machine.
            const double keptAtLeast = ran - 1.0 - 0.5;
            int64_t scans = 0;
            if (binary) {
                std::string error;
                const auto f = test::ReadWdq(test::ReadBytes(out), error);
                ASSERT_TRUE(f) << out << ": " << error;
                ExpectIntended(*f);
                scans = f->ScanCount();
            } else {
                scans = CheckTextLines(out);
                // The info file comes with the first second on disk.
                const std::string info =
                    test::ReadText(dir.File("killed" + std::to_string(round) + "_info.txt"));
                if (scans > 0) {
                    EXPECT_EQ(info.rfind("Channel name: ", 0), 0u) << info;
                    EXPECT_NE(info.find("Marker #0: Acquisition start"), std::string::npos) << info;
                }
            }
            EXPECT_GE(static_cast<double>(scans) * kPeriod, keptAtLeast)
                << out << " ran " << ran << " s";
            EXPECT_LE(static_cast<double>(scans) * kPeriod, ran + 0.5) << out;

            // The repair completes the file; a second repair finds nothing to do.
            if (round == 1) {
                EXPECT_GT(scans, 0) << out << ": killed after a checkpoint";
            }
            if (scans == 0) continue;  // killed before the first second was on disk
            test::ChildProcess repair({TAMIX_FILE_PATH, "repair", out});
            EXPECT_EQ(repair.ExitCode(), 0) << out;
            if (binary) {
                std::string error;
                const auto f = test::ReadWdq(test::ReadBytes(out), error);
                ASSERT_TRUE(f) << error;
                EXPECT_EQ(f->ScanCount(), scans);
                ASSERT_FALSE(f->markers.empty());
                EXPECT_EQ(f->markers[0].comment, "Acquisition start");
            } else {
                EXPECT_EQ(CheckTextLines(out), scans);
            }
            const auto repaired = test::ReadBytes(out);
            test::ChildProcess again({TAMIX_FILE_PATH, "repair", out});
            EXPECT_EQ(again.ExitCode(), 0);
            EXPECT_EQ(test::ReadBytes(out), repaired) << "a second repair changes nothing";
        }
    }
}

TEST_F(SurvivalTest, EverySignalCompletesTheFile) {
    for (const int sig : {SIGHUP, SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        const std::string out = dir.File("signalled" + std::to_string(sig) + ".wdq");
        test::ChildProcess rec(Recorder(out, "60"));
        WaitForFile(out, 1156 + 4 * 200);
        rec.Signal(sig);
        EXPECT_EQ(rec.ExitCode(), 0);
        std::string error;
        const auto f = test::ReadWdq(test::ReadBytes(out), error);
        ASSERT_TRUE(f) << error;
        EXPECT_EQ(f->ScanCount() % 8, 0) << "whole cycles";
        EXPECT_EQ(f->markers.size(), 1u) << "the trailer was written";
        ExpectIntended(*f);
    }
}

TEST_F(SurvivalTest, ASecondRecorderOnTheSameFileIsRefusedBeforeItChangesAByte) {
    const std::string out = dir.File("shared.wdq");
    test::ChildProcess first(Recorder(out, "60"));
    WaitForFile(out, 1156 + 4 * 600);
    const std::string errors = dir.File("second.err");
    test::ChildProcess second(Recorder(out, "1", "A3000B6G"), "/dev/null", errors);
    EXPECT_EQ(second.ExitCode(), 3);
    EXPECT_NE(test::ReadText(errors).find("being recorded by another program"), std::string::npos)
        << test::ReadText(errors);
    first.Signal(SIGINT);
    EXPECT_EQ(first.ExitCode(), 0);
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(out), error);
    ASSERT_TRUE(f) << error;
    EXPECT_GE(f->ScanCount(), 600);
    ExpectIntended(*f);
}

// A reader tells a recording that is going on from one cut short, without
// disturbing its recorder; a repair keeps its hands off the former.
TEST_F(SurvivalTest, AFileBeingRecordedIsToldFromOneCutShort) {
    for (const std::string name : {"going.wdq", "going.dat"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.File(name);
        test::ChildProcess rec(Recorder(out, "60"));
        WaitForFile(out, 1156 + 4 * 600);
        EXPECT_TRUE(HeldByRecorder(out));
        std::string error;
        auto reader = OpenRecording(out, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_TRUE(reader->Info().beingRecorded);
        EXPECT_GT(reader->Info().scanCount, 0);
        const std::string report = dir.File("info.txt");
        {
            test::ChildProcess info({TAMIX_FILE_PATH, "info", out});
            std::string text;
            for (std::string line = info.ReadLine(); !line.empty(); line = info.ReadLine()) {
                text += line + "\n";
            }
            EXPECT_EQ(info.ExitCode(), 0);
            EXPECT_NE(text.find("Being recorded: "), std::string::npos) << text;
            EXPECT_EQ(text.find("cut short"), std::string::npos) << text;
        }
        test::ChildProcess repair({TAMIX_FILE_PATH, "repair", out}, "/dev/null", report);
        EXPECT_EQ(repair.ExitCode(), 1);
        EXPECT_NE(test::ReadText(report).find("being recorded"), std::string::npos)
            << test::ReadText(report);
        EXPECT_FALSE(fs::exists(out + ".bak")) << "the repair moved nothing aside";
        // Asking did not get in the recorder's way: it completes the file.
        rec.Signal(SIGINT);
        EXPECT_EQ(rec.ExitCode(), 0);
        EXPECT_FALSE(HeldByRecorder(out));
        reader = OpenRecording(out, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_FALSE(reader->Info().beingRecorded);
        EXPECT_FALSE(reader->Info().incomplete) << "completed by the recorder";
    }
    // A recorder killed leaves a file that is cut short, held by no one.
    const std::string out = dir.File("killed.wdq");
    test::ChildProcess rec(Recorder(out, "60"));
    WaitForFile(out, 1156 + 4 * 600);
    rec.Signal(SIGKILL);
    EXPECT_EQ(rec.ExitCode(), 128 + SIGKILL);
    EXPECT_FALSE(HeldByRecorder(out));
    std::string error;
    auto reader = OpenRecording(out, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_FALSE(reader->Info().beingRecorded);
    EXPECT_TRUE(reader->Info().incomplete);
    EXPECT_FALSE(HeldByRecorder(dir.File("no-such-file.wdq")));
}

// An export onto a file that is being recorded would leave its recorder
// writing into a file that no longer has a name; a repair would move it aside.
// Both are refused, and the recording goes on to its end untouched.
TEST_F(SurvivalTest, NoExportOrRepairWritesOverARecordingThatIsGoingOn) {
    const std::string other = dir.File("other.wdq");
    {
        test::ChildProcess rec(Recorder(other, "1"));
        ASSERT_EQ(rec.ExitCode(), 0);
    }
    for (const std::string name : {"live.wdq", "live.dat"}) {
        SCOPED_TRACE(name);
        const std::string live = dir.File(name);
        test::ChildProcess rec(Recorder(live, "60"));
        WaitForFile(live, 1156 + 4 * 600);
        const std::string errors = dir.File("errors.txt");
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{TAMIX_FILE_PATH, "export", other, live},
              std::vector<std::string>{TAMIX_FILE_PATH, "repair", live}}) {
            SCOPED_TRACE(args[1]);
            test::ChildProcess writer(args, "/dev/null", errors);
            EXPECT_EQ(writer.ExitCode(), 1);
            EXPECT_NE(test::ReadText(errors).find(live + ": it is being recorded"),
                      std::string::npos)
                << test::ReadText(errors);
            EXPECT_TRUE(HeldByRecorder(live)) << "the recorder's file still has its name";
        }
        EXPECT_FALSE(fs::exists(live + ".bak"));
        rec.Signal(SIGINT);
        EXPECT_EQ(rec.ExitCode(), 0);
        if (name.ends_with(".wdq")) {
            std::string error;
            const auto f = test::ReadWdq(test::ReadBytes(live), error);
            ASSERT_TRUE(f) << error;
            EXPECT_GE(f->ScanCount(), 600);
            EXPECT_EQ(f->markers.size(), 1u) << "completed by its recorder";
            ExpectIntended(*f);
        } else {
            // Every line whole and as the unit sent it, at least those waited for.
            EXPECT_GE(CheckTextLines(live), (1156 + 4 * 600) / 24);
            EXPECT_NE(
                test::ReadText(dir.File("live_info.txt")).find("Marker #0: Acquisition start"),
                std::string::npos);
        }
    }
}

TEST_F(SurvivalTest, AStartThatFailsOrIsRefusedLeavesAnExistingFileAsItWas) {
    const std::string out = dir.File("precious.wdq");
    std::ofstream(out) << "a finished recording";
    struct Case {
        std::vector<std::string> args;
        int exit;
    };
    const Case cases[] = {
        {{TAMIX_RECORD_PATH, "--profile", dir.File("p.INI"), "--simulate", "KPR-T31O", out}, 2},
        {{TAMIX_RECORD_PATH, "--profile", dir.File("p.INI"), "--port",
          dir.File("no-such-port") + "=A30008SN", out},
         1},
        {{TAMIX_RECORD_PATH, "--profile", dir.File("p.INI"), "--simulate", "--time", "0", out}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[4]);
        test::ChildProcess rec(c.args, "/dev/null", dir.File("err.txt"));
        EXPECT_EQ(rec.ExitCode(), c.exit) << test::ReadText(dir.File("err.txt"));
        EXPECT_EQ(test::ReadText(out), "a finished recording");
    }
}

}  // namespace
}  // namespace tamix
