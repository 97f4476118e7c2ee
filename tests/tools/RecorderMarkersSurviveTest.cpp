// Markers typed during a run survive a kill as the scans do: tamix-record
// keeps them in a journal beside the recording at every checkpoint, `info`
// shows them and says that the recording was cut short, and `repair` puts
// them (with the channel names) into the file, as the project's readers and
// the tests' own WinDaq reader find them.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/RunProgram.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "recording/MarkerJournal.h"
#include "recording/MarkerJournalReader.h"
#include "recording/OpenRecording.h"
#include "recording/TextFileReader.h"
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

// tamix-record on a simulated KPR-T310 with a standard input that the test
// types into and keeps open, as a terminal would be.
class TypedRecorder {
  public:
    TypedRecorder(const test::TempDir& dir, const std::string& out, const std::string& inputs,
                  const std::string& errors = {}) {
        const std::string fifo = dir.File("stdin");
        if (::mkfifo(fifo.c_str(), 0600) != 0) ADD_FAILURE() << "no FIFO " << fifo;
        // Open for reading too, so that neither side waits for the other.
        typing_ = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(typing_, 0);
        process_ = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"),
                                     "--simulate", "A30008SN", "--inputs", inputs, "--name",
                                     "1=Druck", "--name", "2=Temperatur", "--format",
                                     out.ends_with(".wdq") ? "wdq" : "text", "--time", "60", out},
            fifo, errors);
    }
    ~TypedRecorder() {
        process_.reset();
        if (typing_ >= 0) ::close(typing_);
    }
    TypedRecorder(const TypedRecorder&) = delete;
    TypedRecorder& operator=(const TypedRecorder&) = delete;

    void Type(const std::string& line) {
        const std::string typed = line + "\n";
        EXPECT_EQ(::write(typing_, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    }
    test::ChildProcess& process() { return *process_; }

  private:
    int typing_ = -1;
    std::unique_ptr<test::ChildProcess> process_;
};

// Waits until the journal at `path` holds `count` markers.
bool JournalHolds(const std::string& path, std::size_t count) {
    return WaitFor([&] {
        JournalContents held;
        std::string reason;
        return ReadMarkerJournal(path, held, reason) == JournalFound::Read &&
               held.markers.size() >= count;
    });
}

TEST(MarkersSurviveTest, MarkersTypedBeforeAKillAreRepairedIntoTheFile) {
    const std::vector<std::string> comments = {"first marker", "Überdruck at valve 2"};
    for (const char* name : {"killed.wdq", "killed.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string out = dir.File(name);
        const std::string journal = MarkerJournalName(out);
        const bool binary = out.ends_with(".wdq");
        TypedRecorder rec(dir, out, "1,2");
        ASSERT_TRUE(WaitFor([&] { return ScansOnDisk(out) > 0; })) << out << " never grew";

        // Each marker lies between the scans on disk when it was typed and
        // those on disk once the journal held it: a checkpoint writes the
        // scans before the markers that point into them.
        std::vector<std::pair<int64_t, int64_t>> window;
        for (std::size_t m = 0; m < comments.size(); ++m) {
            const int64_t before = ScansOnDisk(out);
            rec.Type(comments[m]);
            ASSERT_TRUE(JournalHolds(journal, m + 2)) << "the journal never held marker " << m + 1;
            window.emplace_back(before, ScansOnDisk(out));
        }
        rec.process().Signal(SIGKILL);
        ASSERT_EQ(rec.process().ExitCode(), 128 + SIGKILL);

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

TEST(MarkersSurviveTest, ACompletedRunLeavesNoJournal) {
    for (const char* name : {"done.wdq", "done.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string out = dir.File(name);
        TypedRecorder rec(dir, out, "1,2");
        ASSERT_TRUE(WaitFor([&] { return ScansOnDisk(out) > 0; })) << out << " never grew";
        rec.Type("stimulus");
        ASSERT_TRUE(JournalHolds(MarkerJournalName(out), 2));
        rec.process().Signal(SIGINT);
        EXPECT_EQ(rec.process().ExitCode(), 0);
        EXPECT_FALSE(fs::exists(MarkerJournalName(out)));
        std::string error;
        const auto reader = OpenRecording(out, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_FALSE(reader->Info().incomplete);
        ASSERT_EQ(reader->Info().markers.size(), 2u);
        EXPECT_EQ(reader->Info().markers[1].comment, "stimulus");
    }
}

// A small file system of its own, mounted for the test and gone with it.
class SmallFileSystem {
  public:
    explicit SmallFileSystem(const std::string& folder) : folder_(folder) {
        fs::create_directory(folder_);
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) reason_ = std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    // Gives it room again, as a user deleting files would.
    bool Grow() const {
        return ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, "size=4m") == 0;
    }

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string reason_;
};

TEST(MarkersSurviveTest, ARealFullDiskLeavesWholeRecordsAndTheMarkersForTheRepair) {
    struct Case {
        const char* name;
        const char* inputs;
        int channels;
    };
    for (const Case& c : {Case{"full.dat", "1,2,3,4", 4}, Case{"full.wdq", "1,2,3,4,A,B,C,D", 8}}) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const SmallFileSystem disk(dir.File("disk"));
        if (!disk.mounted()) {
            GTEST_SKIP() << "a 64 KiB tmpfs cannot be mounted here (" << disk.reason()
                         << "); the simulated full disk of the worker's tests stands in";
        }
        const std::string out = dir.File(std::string("disk/") + c.name);
        const std::string errors = dir.File("errors.txt");
        {
            TypedRecorder rec(dir, out, c.inputs, errors);
            ASSERT_TRUE(WaitFor([&] { return ScansOnDisk(out) > 0; })) << out << " never grew";
            rec.Type("before the disk filled");
            EXPECT_EQ(rec.process().ExitCode(), 4);
        }
        const std::string said = test::ReadText(errors);
        EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
        EXPECT_NE(said.find("Its markers are kept in " + MarkerJournalName(out)), std::string::npos)
            << said;

        // Whole records only, as the disk took them.
        const std::string bytes = test::ReadText(out);
        int64_t scans = 0;
        if (c.channels == 8) {
            ASSERT_GT(bytes.size(), 1156u);
            const uint64_t data = bytes.size() - 1156;
            EXPECT_EQ(data % 16, 0u) << "the file ends inside a scan";
            uint32_t counted = 0;
            std::memcpy(&counted, bytes.data() + 8, 4);
            EXPECT_EQ(counted, data) << "the header counts what is on disk";
            scans = static_cast<int64_t>(data / 16);
        } else {
            ASSERT_TRUE(bytes.ends_with("\r\n")) << "the file ends inside a line";
            std::array<double, 6> fields{};
            for (std::size_t at = 0; at < bytes.size(); ++scans) {
                const std::size_t end = bytes.find("\r\n", at);
                ASSERT_EQ(ParseTextLine(std::string_view(bytes).substr(at, end + 2 - at), fields),
                          5)
                    << "line " << scans;
                at = end + 2;
            }
        }

        // Once there is room, the repair puts the markers into the file.
        const test::ProgramResult full = test::RunProgram({TAMIX_FILE_PATH, "repair", out});
        ASSERT_TRUE(disk.Grow()) << std::strerror(errno);
        if (full.exitCode != 0) {
            EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
            EXPECT_TRUE(fs::exists(MarkerJournalName(out))) << "a failed repair keeps the journal";
            const test::ProgramResult repair = test::RunProgram({TAMIX_FILE_PATH, "repair", out});
            EXPECT_EQ(repair.exitCode, 0) << repair.err;
        }
        std::string error;
        const auto reader = OpenRecording(out, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_FALSE(reader->Info().incomplete);
        EXPECT_EQ(reader->Info().scanCount, scans);
        ASSERT_EQ(reader->Info().markers.size(), 2u);
        EXPECT_EQ(reader->Info().markers[1].comment, "before the disk filled");
        EXPECT_FALSE(fs::exists(MarkerJournalName(out)));
    }
}

}  // namespace
}  // namespace tamix
