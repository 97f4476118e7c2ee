// Markers typed during a run survive a kill as the scans do: tamix-record
// keeps them in a journal beside the recording at every checkpoint, `info`
// shows them and says that the recording was cut short, and `repair` puts
// them (with the channel names) into the file, as the project's readers and
// the tests' own WinDaq reader find them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/RunProgram.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "recording/MarkerJournal.h"
#include "recording/OpenRecording.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPeriod = 0.002;  // the simulated KPR-T310

// Waits for `ready` with a generous deadline; false when it never came.
template <typename Condition>
bool WaitFor(Condition ready) {
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// Whole scans on disk as a kill would leave them: WinDaq scans of two
// channels after the header, or whole text lines.
int64_t ScansOnDisk(const std::string& path) {
    const std::string bytes = test::ReadText(path);
    if (path.ends_with(".wdq")) {
        return bytes.size() > 1156 ? static_cast<int64_t>((bytes.size() - 1156) / 4) : 0;
    }
    return std::count(bytes.begin(), bytes.end(), '\n');
}

// The markers of a text recording's info file, read here from its lines:
// "Marker #m: COMMENT at T sec".
struct InfoMarker {
    std::string comment;
    double seconds = 0;
};
std::vector<InfoMarker> InfoFileMarkers(const std::string& text) {
    std::vector<InfoMarker> markers;
    std::size_t at = 0;
    while ((at = text.find("Marker #", at)) != std::string::npos) {
        const std::size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        const std::size_t colon = line.find(": ");
        const std::size_t time = line.rfind(" at ");
        markers.push_back(
            {line.substr(colon + 2, time - colon - 2), std::stod(line.substr(time + 4))});
        at = end;
    }
    return markers;
}

TEST(MarkersSurviveTest, MarkersTypedBeforeAKillAreRepairedIntoTheFile) {
    const std::vector<std::string> comments = {"first marker", "Überdruck at valve 2"};
    for (const char* name : {"killed.wdq", "killed.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string out = dir.File(name);
        const std::string journal = MarkerJournalName(out);
        const bool binary = out.ends_with(".wdq");
        // Standard input is a pipe the test keeps open for writing, as a terminal would be.
        const std::string fifo = dir.File("stdin");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const int typing = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(typing, 0);
        test::ChildProcess rec(
            {TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"), "--simulate", "A30008SN",
             "--inputs", "1,2", "--name", "1=Druck", "--name", "2=Temperatur", "--format",
             binary ? "wdq" : "text", "--time", "60", out},
            fifo);
        ASSERT_TRUE(WaitFor([&] { return ScansOnDisk(out) > 0; })) << out << " never grew";

        // Each marker lies between the scans on disk when it was typed and
        // those on disk once the journal held it: a checkpoint writes the
        // scans before the markers that point into them.
        std::vector<std::pair<int64_t, int64_t>> window;
        for (std::size_t m = 0; m < comments.size(); ++m) {
            const int64_t before = ScansOnDisk(out);
            const std::string line = comments[m] + "\n";
            ASSERT_EQ(::write(typing, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            JournalContents held;
            ASSERT_TRUE(WaitFor([&] {
                std::string reason;
                held = {};
                return ReadMarkerJournal(journal, held, reason) == JournalFound::Read &&
                       held.markers.size() == m + 2;
            })) << "the journal never held marker "
                << m + 1;
            window.emplace_back(before, ScansOnDisk(out));
        }
        rec.Signal(SIGKILL);
        ASSERT_EQ(rec.ExitCode(), 128 + SIGKILL);
        ::close(typing);

        // Before the repair: the markers are shown from the journal, and the
        // recording is told as cut short.
        const test::ProgramResult info = test::RunProgram({TAMIX_FILE_PATH, "info", out});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find("Incomplete: the recording was cut short."), std::string::npos)
            << info.out;
        for (const std::string& c : comments) {
            EXPECT_NE(info.out.find(c), std::string::npos) << info.out;
        }

        const test::ProgramResult repair = test::RunProgram({TAMIX_FILE_PATH, "repair", out});
        EXPECT_EQ(repair.exitCode, 0) << repair.err;
        EXPECT_NE(repair.out.find("Removed the markers journal " + journal), std::string::npos)
            << repair.out;
        EXPECT_FALSE(fs::exists(journal));

        // The project's reader.
        std::string error;
        const auto reader = OpenRecording(out, error);
        ASSERT_TRUE(reader) << error;
        const RecordingInfo& got = reader->Info();
        EXPECT_FALSE(got.incomplete);
        ASSERT_EQ(got.markers.size(), comments.size() + 1);
        EXPECT_EQ(got.markers[0].comment, "Acquisition start");
        EXPECT_EQ(got.markers[0].scan, 0);
        for (std::size_t m = 0; m < comments.size(); ++m) {
            EXPECT_EQ(got.markers[m + 1].comment, comments[m]);
            EXPECT_GE(got.markers[m + 1].scan, window[m].first) << "marker " << m + 1;
            EXPECT_LE(got.markers[m + 1].scan, window[m].second) << "marker " << m + 1;
        }
        ASSERT_EQ(got.channels.size(), 2u);
        EXPECT_EQ(got.channels[0].Name(), "Druck");
        EXPECT_EQ(got.channels[1].Name(), "Temperatur");

        // Read independently of the project's readers.
        if (binary) {
            const auto f = test::ReadWdq(test::ReadBytes(out), error);
            ASSERT_TRUE(f) << error;
            ASSERT_EQ(f->markers.size(), comments.size() + 1);
            EXPECT_EQ(f->markers[0].comment, "Acquisition start");
            for (std::size_t m = 0; m < comments.size(); ++m) {
                // The trailer keeps Windows-1252: Ü is byte 0xDC.
                std::string stored = comments[m];
                if (const auto u = stored.find("Ü"); u != std::string::npos)
                    stored.replace(u, 2, "\xDC");
                EXPECT_EQ(f->markers[m + 1].comment, stored);
                EXPECT_GE(f->markers[m + 1].scan, window[m].first);
                EXPECT_LE(f->markers[m + 1].scan, window[m].second);
            }
            ASSERT_EQ(f->channels.size(), 2u);
            EXPECT_EQ(f->channels[0].name, "Druck");
            EXPECT_EQ(f->channels[1].name, "Temperatur");
        } else {
            const std::string text = test::ReadText(InfoFileName(out));
            EXPECT_EQ(text.rfind("Channel name: Druck\r\nChannel name: Temperatur\r\n", 0), 0u)
                << text;
            const std::vector<InfoMarker> markers = InfoFileMarkers(text);
            ASSERT_EQ(markers.size(), comments.size() + 1) << text;
            for (std::size_t m = 0; m < comments.size(); ++m) {
                EXPECT_EQ(markers[m + 1].comment, comments[m]);
                const double scan = markers[m + 1].seconds / kPeriod;
                EXPECT_GE(scan, static_cast<double>(window[m].first) - 0.5);
                EXPECT_LE(scan, static_cast<double>(window[m].second) + 0.5);
            }
        }
        const test::ProgramResult after = test::RunProgram({TAMIX_FILE_PATH, "info", out});
        EXPECT_EQ(after.out.find("cut short"), std::string::npos) << after.out;
    }
}

}  // namespace
}  // namespace tamix
