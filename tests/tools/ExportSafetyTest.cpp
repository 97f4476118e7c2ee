// tamix-file as a user meets it: reading, exporting and repairing never
// destroy a recording and never claim success for an output they could not
// make right. An export is refused when any of its outputs is a file of the
// recording it reads, a killed export leaves the old output whole, headers
// beyond sane limits or values that are not finite give an error and no
// output, every format exports the same markers of a range, and a repair
// keeps its hands off a file that a recorder holds.
#include <edflib.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/ExportFormat.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
    int exitCode = -1;
    std::string errors;
};

// A crafted file must not fill the disk when a limit is missing: a program
// started meanwhile that writes a file beyond this ends with SIGXFSZ instead
// (and dumps no core).
constexpr rlim_t kOutputLimit = rlim_t{64} << 20;

class ScopedOutputLimit {
  public:
    ScopedOutputLimit() {
        ::getrlimit(RLIMIT_FSIZE, &size_);
        ::getrlimit(RLIMIT_CORE, &core_);
        const rlimit size{std::min(kOutputLimit, size_.rlim_cur), size_.rlim_max};
        const rlimit core{0, core_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::setrlimit(RLIMIT_CORE, &core);
    }
    ~ScopedOutputLimit() {
        ::setrlimit(RLIMIT_FSIZE, &size_);
        ::setrlimit(RLIMIT_CORE, &core_);
    }
    ScopedOutputLimit(const ScopedOutputLimit&) = delete;
    ScopedOutputLimit& operator=(const ScopedOutputLimit&) = delete;

  private:
    rlimit size_{};
    rlimit core_{};
};

Outcome RunFile(const test::TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{TAMIX_FILE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string errors = dir.File("stderr.txt");
    std::unique_ptr<test::ChildProcess> child;
    {
        const ScopedOutputLimit limit;
        child = std::make_unique<test::ChildProcess>(argv, "/dev/null", errors);
    }
    Outcome out;
    out.exitCode = child->ExitCode();
    out.errors = test::ReadText(errors);
    fs::remove(errors);
    return out;
}

struct Marker {
    int64_t scan;
    std::string comment;
    bool operator==(const Marker&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Marker& m) {
    return os << m.scan << " \"" << m.comment << "\"";
}

struct WdqSpec {
    int channels = 2;
    int64_t scans = 1000;
    double period = 0.002;
    double slope = 1.0 / 819.2;  // the header's calibration of every channel
    double intercept = 0.0;
    std::vector<Marker> markers{{0, "Acquisition start"}};
};

// A closed WinDaq file as the recorder writes it, with the given header values.
void WriteWdq(const std::string& path, const WdqSpec& spec) {
    std::vector<ChannelInfo> channels(static_cast<std::size_t>(spec.channels));
    for (std::size_t k = 0; k < channels.size(); ++k) {
        CopyText(channels[k].name, "Kanal" + std::to_string(k), kNameChars);
    }
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file) << error;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, spec.scans, spec.channels, spec.period, channels, 1700000000);
    for (int k = 0; k < spec.channels; ++k) {
        std::memcpy(&header[110 + 36 * static_cast<std::size_t>(k) + 8], &spec.slope, 8);
        std::memcpy(&header[110 + 36 * static_cast<std::size_t>(k) + 16], &spec.intercept, 8);
    }
    ASSERT_TRUE(file->Write(header.data(), header.size()));
    std::vector<uint8_t> data(static_cast<std::size_t>(spec.scans * spec.channels) * 2);
    for (std::size_t i = 0; i < data.size() / 2; ++i) {
        PutWdqSample(&data[2 * i], static_cast<int16_t>((i * 40503 % 65536) - 32768));
    }
    ASSERT_TRUE(file->Write(data.data(), data.size()));
    auto markers = std::make_unique<MarkerTable>();
    for (std::size_t m = 0; m < spec.markers.size(); ++m) {
        markers->markerPos[m] = spec.markers[m].scan;
        CopyText(markers->markerText[m], spec.markers[m].comment, kCommentChars);
    }
    ASSERT_TRUE(WriteWdqTrailer(*file, *markers, static_cast<int>(spec.markers.size()), channels,
                                1700000000));
    ASSERT_TRUE(PatchWdqDataSize(*file, data.size()));
    ASSERT_TRUE(file->Close());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every file below `dir` with its bytes.
std::map<std::string, std::string> Contents(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).string();
        files[name] = entry.is_symlink()        ? "link to " + fs::read_symlink(entry).string()
                      : entry.is_regular_file() ? test::ReadText(entry.path().string())
                                                : "folder";
    }
    return files;
}

// The files that are new, gone or changed between two listings, by name and
// size: a difference of megabytes is no message.
std::string Differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
    std::string text;
    for (const auto& [name, bytes] : after) {
        const auto was = before.find(name);
        if (was == before.end()) {
            text += "new " + name + " (" + std::to_string(bytes.size()) + " bytes); ";
        } else if (was->second != bytes) {
            text += "changed " + name + " (" + std::to_string(was->second.size()) + " -> " +
                    std::to_string(bytes.size()) + " bytes); ";
        }
    }
    for (const auto& entry : before) {
        if (after.count(entry.first) == 0) text += "gone " + entry.first + "; ";
    }
    return text;
}

// Changes the working folder for one test, so that outputs can be spelt
// relative to it as a user types them.
class WorkingFolder {
  public:
    explicit WorkingFolder(const fs::path& dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingFolder() { fs::current_path(saved_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    fs::path saved_;
};

TEST(ExportSafety, AnExportOntoAFileOfTheRecordingIsRefusedBeforeItWritesAByte) {
    test::TempDir dir;
    const WorkingFolder here(dir.path());
    WriteWdq("self.wdq", {});
    WriteText("run.dat", "0.000 1.5 \r\n0.002 2.5 \r\n0.004 3.5 \r\n");
    WriteText("run_info.txt",
              "Channel name: Druck\r\nMarker #0: Acquisition start at 0.000 sec\r\n");
    // A text recording may have any name; this one is what a CSV export of
    // x.csv would take for its markers.
    WriteText("x_markers.csv", "0.000 1 \r\n0.002 2 \r\n");
    fs::create_directory("sub");
    fs::create_hard_link("self.wdq", "hard.wdq");
    fs::create_symlink("self.wdq", "soft.wdq");
    fs::create_symlink(dir.File("run_info.txt"), "alias.csv");
    struct Case {
        std::vector<std::string> args;
        std::string output;  // as the message names it
        std::string input;   // likewise
    };
    const Case cases[] = {
        {{"self.wdq", "self.wdq"}, "self.wdq", "self.wdq"},
        {{"self.wdq", "./self.wdq"}, "./self.wdq", "self.wdq"},
        {{"./self.wdq", "sub/../self.wdq"}, "sub/../self.wdq", "./self.wdq"},
        {{"self.wdq", dir.File("self.wdq")}, dir.File("self.wdq"), "self.wdq"},
        {{"self.wdq", "hard.wdq"}, "hard.wdq", "self.wdq"},
        {{"self.wdq", "soft.wdq"}, "soft.wdq", "self.wdq"},
        {{"soft.wdq", "self.wdq"}, "self.wdq", "soft.wdq"},
        {{"self.wdq", "self.wdq", "--to", "csv"}, "self.wdq", "self.wdq"},
        {{"run.dat", "run.dat"}, "run.dat", "run.dat"},
        {{"run.dat", "./run.dat", "--to", "csv"}, "./run.dat", "run.dat"},
        // The data file is new, its info file the recording's own.
        {{"run.dat", "run", "--to", "dat"}, "run_info.txt", "run_info.txt"},
        {{"run.dat", "run_info.txt", "--to", "wdq"}, "run_info.txt", "run_info.txt"},
        {{"run.dat", "alias.csv"}, "alias.csv", "run_info.txt"},
        {{"x_markers.csv", "x.csv"}, "x_markers.csv", "x_markers.csv"},
    };
    const std::map<std::string, std::string> before = Contents(dir.path());
    for (const Case& c : cases) {
        std::vector<std::string> args{"export"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args[0] + " -> " + c.args[1]);
        const Outcome out = RunFile(dir, args);
        EXPECT_EQ(out.exitCode, 1) << out.errors;
        // The refusal comes before any word about what would be exported.
        EXPECT_EQ(out.errors.rfind("tamix-file: " + c.output, 0), 0u) << out.errors;
        EXPECT_NE(out.errors.find("(" + c.input + ")"), std::string::npos) << out.errors;
        EXPECT_NE(out.errors.find("being exported"), std::string::npos) << out.errors;
        EXPECT_EQ(Differences(before, Contents(dir.path())), "") << "every file as it was";
    }
    // Another name is fine, and leaves the recording as it is.
    EXPECT_EQ(RunFile(dir, {"export", "hard.wdq", "copy.wdq"}).exitCode, 0);
    EXPECT_EQ(test::ReadBytes("copy.wdq"), test::ReadBytes("self.wdq"));
    EXPECT_TRUE(Contents(dir.path()).at("self.wdq") == before.at("self.wdq"));
}

// The size of the file that descriptor `fd` of process `pid` has open, when
// it is a file in `dir` other than `input`; -1 otherwise.
intmax_t OpenFileSize(pid_t pid, const std::string& fd, const test::TempDir& dir,
                      const std::string& input) {
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + fd;
    std::error_code ec;
    const std::string target = fs::read_symlink(link, ec).string();
    if (ec || target.rfind(dir.path().string() + "/", 0) != 0 || target == input) return -1;
    struct stat st {};
    return ::stat(link.c_str(), &st) == 0 ? static_cast<intmax_t>(st.st_size) : -1;
}

// The export is killed once several megabytes of its new output are written,
// wherever it writes them: the old export and its markers file stay whole,
// and nothing else is left in the folder. Should this test be held up longer
// than the export takes to reach the output limit, the system kills it there.
TEST(ExportSafety, AKilledExportLeavesTheOldOutputWholeAndNoTemporaryFile) {
    test::TempDir dir;
    const std::string input = dir.File("big.wdq");
    WdqSpec spec;
    spec.channels = 8;
    spec.scans = 1 << 21;  // 32 MiB, some 150 MB of CSV
    WriteWdq(input, spec);
    const std::string out = dir.File("out.csv");
    WriteText(out, "time_s,earlier export\n");
    WriteText(dir.File("out_markers.csv"), "scan,time_s,comment\n");
    const std::vector<uint8_t> recording = test::ReadBytes(input);

    std::unique_ptr<test::ChildProcess> child;
    {
        const ScopedOutputLimit limit;
        child = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{TAMIX_FILE_PATH, "export", input, out}, "/dev/null",
            "/dev/null");
    }
    const pid_t pid = child->pid();
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    const auto ended = [pid] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
    };
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    bool midway = false;
    while (!midway && !ended() && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fds, ec)) {
            if (OpenFileSize(pid, entry.path().filename().string(), dir, input) >=
                (intmax_t{8} << 20)) {
                midway = true;
            }
        }
        std::this_thread::sleep_for(1ms);
    }
    child->Signal(SIGKILL);
    const int exit = child->ExitCode();
    ASSERT_TRUE(exit == 128 + SIGKILL || exit == 128 + SIGXFSZ)
        << "the export ended by itself (" << exit << ") instead of being killed";
    EXPECT_TRUE(test::ReadText(out) == "time_s,earlier export\n") << fs::file_size(out) << " bytes";
    EXPECT_TRUE(test::ReadText(dir.File("out_markers.csv")) == "scan,time_s,comment\n");
    EXPECT_TRUE(test::ReadBytes(input) == recording);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"big.wdq", "out.csv", "out_markers.csv"}));
}

struct LimitCase {
    const char* what;
    std::string source;  // file name in the test folder
    std::string format;
    bool refused;
    std::string message;  // part of the message when refused
};

// Headers whose values no recording has, and values that are no numbers: an
// error that names the file and the reason, exit status 1, and no output; the
// same source exports where the format can hold it.
TEST(ExportSafety, SourcesBeyondSaneLimitsOrWithoutFiniteValuesGiveAnErrorAndNoOutput) {
    test::TempDir dir;
    WdqSpec fast;
    fast.channels = 1;
    fast.scans = 8000;  // 17 KB
    fast.period = 1e-9;
    WriteWdq(dir.File("fast.wdq"), fast);
    WdqSpec slow;
    slow.period = 2 * 86400.0;
    WriteWdq(dir.File("slow.wdq"), slow);
    WdqSpec minutes;
    minutes.period = 120.0;
    WriteWdq(dir.File("minutes.wdq"), minutes);
    WdqSpec khz2;
    khz2.period = 0.0005;
    WriteWdq(dir.File("2khz.wdq"), khz2);
    WdqSpec nanSlope;
    nanSlope.slope = std::nan("");
    WriteWdq(dir.File("nan-slope.wdq"), nanSlope);
    WdqSpec infIntercept;
    infIntercept.intercept = HUGE_VAL;
    WriteWdq(dir.File("inf-intercept.wdq"), infIntercept);
    WdqSpec overflowing;
    overflowing.slope = 1e305;  // finite, but not at 10 V
    WriteWdq(dir.File("overflowing.wdq"), overflowing);
    const std::string info = "Channel name: Chn0\r\nMarker #0: Acquisition start at 0.000 sec\r\n";
    WriteText(dir.File("nan.dat"), "0.000 1 \r\n0.002 nan \r\n0.004 3 \r\n");
    WriteText(dir.File("nan_info.txt"), info);
    WriteText(dir.File("inf.dat"), "0.000 1 \r\n0.002 2 \r\n0.004 -inf \r\n");
    WriteText(dir.File("inf_info.txt"), info);
    WriteText(dir.File("one.dat"), "0.000 1.25 \r\n");
    WriteText(dir.File("one_info.txt"), info);
    WriteText(dir.File("still.dat"), "0.000 1 \r\n0.000 2 \r\n0.000 3 \r\n");
    WriteText(dir.File("still_info.txt"), info);
    WriteText(dir.File("huge.dat"), "0.000 1 \r\n0.002 -1.7976e308 \r\n");
    WriteText(dir.File("huge_info.txt"), info);
    WdqSpec empty;
    empty.scans = 0;
    WriteWdq(dir.File("empty.wdq"), empty);

    std::vector<LimitCase> cases;
    for (const char* format : {"csv", "dat", "wdq", "edf"}) {
        cases.push_back({"1 ns between scans", "fast.wdq", format, true, "1e-09 s apart"});
        cases.push_back({"two days between scans", "slow.wdq", format, true, "172800 s apart"});
        cases.push_back({"no number as slope", "nan-slope.wdq", format, true,
                         "channel 1 has no finite calibration (1 V = nan"});
        cases.push_back({"an infinite intercept", "inf-intercept.wdq", format, true,
                         "channel 1 has no finite calibration"});
        cases.push_back({"values beyond the range of numbers", "overflowing.wdq", format, true,
                         "channel 1 has no finite calibration"});
        cases.push_back({"a value that is no number", "nan.dat", format, true,
                         "line 2 holds a value that is not a finite number (nan) in channel 1"});
        cases.push_back({"an infinite value", "inf.dat", format, true,
                         "line 3 holds a value that is not a finite number (-inf)"});
        cases.push_back({"all scans at one time", "still.dat", format, true,
                         "the time between its scans is unknown"});
    }
    cases.push_back({"two minutes between scans", "minutes.wdq", "edf", true, "60 s"});
    cases.push_back({"two minutes between scans", "minutes.wdq", "csv", false, ""});
    cases.push_back({"two minutes between scans", "minutes.wdq", "wdq", false, ""});
    cases.push_back({"0.5 ms between scans", "2khz.wdq", "dat", true, "three decimals"});
    cases.push_back({"0.5 ms between scans", "2khz.wdq", "csv", false, ""});
    cases.push_back({"0.5 ms between scans", "2khz.wdq", "wdq", false, ""});
    cases.push_back({"one line", "one.dat", "wdq", true, "the time between its scans is unknown"});
    cases.push_back({"one line", "one.dat", "edf", true, "unknown"});
    cases.push_back({"one line", "one.dat", "csv", false, ""});
    cases.push_back({"one line", "one.dat", "dat", false, ""});
    // Four digits round it to -1.798e+308, beyond the largest double.
    cases.push_back({"a value next to the largest", "huge.dat", "dat", true,
                     "line 2 holds a value that a text recording's four digits cannot state"});
    cases.push_back({"a value next to the largest", "huge.dat", "csv", false, ""});
    cases.push_back({"no scan", "empty.wdq", "dat", true, "it holds no whole scan"});
    cases.push_back({"no scan", "empty.wdq", "csv", false, ""});

    for (const LimitCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.source + " to " + c.format);
        const std::string out = dir.File("out." + c.format);
        const std::map<std::string, std::string> before = Contents(dir.path());
        const Outcome result = RunFile(dir, {"export", dir.File(c.source), out});
        if (!c.refused) {
            EXPECT_EQ(result.exitCode, 0) << result.errors;
            EXPECT_TRUE(fs::exists(out));
            for (const auto& entry : fs::directory_iterator(dir.path())) {
                if (entry.path().filename().string().rfind("out", 0) == 0) fs::remove(entry);
            }
            continue;
        }
        EXPECT_EQ(result.exitCode, 1) << result.errors;
        EXPECT_NE(result.errors.find(dir.File(c.source) + ": "), std::string::npos)
            << result.errors;
        EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
        EXPECT_EQ(Differences(before, Contents(dir.path())), "") << "nothing written";
    }
}

// One rule for the markers of a range, whatever the format: from the range's
// first scan up to, not including, its end; a marker set after the last scan
// lies in no range. Each row gives the range in seconds (negative: not given)
// and the markers every format must keep, counted from the range's first scan.
TEST(ExportSafety, EveryFormatExportsTheMarkersOfTheRangeAlone) {
    test::TempDir dir;
    const std::string input = dir.File("marked.wdq");
    WdqSpec spec;
    spec.channels = 1;
    spec.scans = 3000;  // 6 s at 2 ms
    spec.markers = {{0, "Acquisition start"},
                    {499, "before"},
                    {500, "at 1 s"},
                    {1000, "inside"},
                    {1499, "last in"},
                    {1500, "at 3 s"},
                    {3000, "after the last scan"}};
    WriteWdq(input, spec);
    struct Row {
        double from;
        double to;
        int64_t firstScan;  // of the range, worked out by hand
        std::vector<Marker> markers;
    };
    const Row rows[] = {
        {-1,
         -1,
         0,
         {{0, "Acquisition start"},
          {499, "before"},
          {500, "at 1 s"},
          {1000, "inside"},
          {1499, "last in"},
          {1500, "at 3 s"}}},
        {1.0, 3.0, 500, {{0, "at 1 s"}, {500, "inside"}, {999, "last in"}}},
        {1.0, -1, 500, {{0, "at 1 s"}, {500, "inside"}, {999, "last in"}, {1000, "at 3 s"}}},
        {-1,
         3.0,
         0,
         {{0, "Acquisition start"},
          {499, "before"},
          {500, "at 1 s"},
          {1000, "inside"},
          {1499, "last in"}}},
        {0.999, 1.001, 500, {{0, "at 1 s"}}},
        {0.5, 2.5, 250, {{249, "before"}, {250, "at 1 s"}, {750, "inside"}}},
        {2.0, 100.0, 1000, {{0, "inside"}, {499, "last in"}, {500, "at 3 s"}}},
        {6.0, -1, 3000, {}},
    };
    struct Format {
        std::string extension;
        // The recorder's formats give a range without a marker at its start the
        // start marker that every recording has.
        bool addsStartMarker;
        // EDF+ has no file without a data record: an empty range is refused.
        bool refusesEmptyRange;
        // The markers as the output file holds them, counted from the range's first scan.
        std::vector<Marker> (*readBack)(const std::string& out, int64_t firstScan);
    };
    const Format formats[] = {
        {"csv", false, false,
         [](const std::string& out, int64_t firstScan) {
             // scan,time_s,comment with the recording's own scan numbers and times.
             std::vector<Marker> markers;
             std::ifstream in(out.substr(0, out.size() - 4) + "_markers.csv");
             std::string line;
             std::getline(in, line);
             EXPECT_EQ(line, "scan,time_s,comment");
             while (std::getline(in, line)) {
                 const std::size_t a = line.find(',');
                 const std::size_t b = line.find(',', a + 1);
                 const int64_t scan = std::stoll(line.substr(0, a));
                 EXPECT_NEAR(std::stod(line.substr(a + 1, b - a - 1)), scan * 0.002, 1e-9);
                 markers.push_back({scan - firstScan, line.substr(b + 1)});
             }
             return markers;
         }},
        {"dat", true, true,
         [](const std::string& out, int64_t) {
             // "Marker #m: TEXT at T sec", T from the range's start.
             std::vector<Marker> markers;
             std::ifstream in(out.substr(0, out.size() - 4) + "_info.txt");
             for (std::string line; std::getline(in, line);) {
                 if (line.rfind("Marker #", 0) != 0) continue;
                 const std::size_t colon = line.find(": ");
                 const std::size_t at = line.rfind(" at ");
                 const double seconds = std::stod(line.substr(at + 4));
                 markers.push_back(
                     {std::llround(seconds / 0.002), line.substr(colon + 2, at - colon - 2)});
             }
             return markers;
         }},
        {"wdq", true, false,
         [](const std::string& out, int64_t) {
             std::vector<Marker> markers;
             std::string error;
             const auto file = test::ReadWdq(test::ReadBytes(out), error);
             EXPECT_TRUE(file) << error;
             if (!file) return markers;
             for (const test::WdqMarker& m : file->markers) markers.push_back({m.scan, m.comment});
             return markers;
         }},
        {"edf", false, true,
         [](const std::string& out, int64_t) {
             // Annotations read by EDFlib, onset times the file's own rate,
             // from the range's start; "Recording ends" marks padding, if any.
             std::vector<Marker> markers;
             edf_hdr_struct hdr{};
             EXPECT_EQ(edfopen_file_readonly(out.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0)
                 << hdr.filetype;
             if (hdr.filetype < 0) return markers;
             const double rate = hdr.signalparam[0].smp_in_datarecord * 1e7 /
                                 static_cast<double>(hdr.datarecord_duration);
             for (int i = 0; i < hdr.annotations_in_file; ++i) {
                 edf_annotation_struct a{};
                 edf_get_annotation(hdr.handle, i, &a);
                 if (std::string(a.annotation) == "Recording ends") continue;
                 markers.push_back(
                     {std::llround(static_cast<double>(a.onset) * 1e-7 * rate), a.annotation});
             }
             edfclose_file(hdr.handle);
             return markers;
         }},
    };
    for (const Format& format : formats) {
        for (const Row& row : rows) {
            std::vector<std::string> args{"export", input, dir.File("part." + format.extension)};
            if (row.from >= 0) {
                args.insert(args.end(), {"--from", std::to_string(row.from)});
            }
            if (row.to >= 0) args.insert(args.end(), {"--to-time", std::to_string(row.to)});
            SCOPED_TRACE(format.extension + " from " + std::to_string(row.from) + " to " +
                         std::to_string(row.to));
            const Outcome result = RunFile(dir, args);
            if (format.refusesEmptyRange && row.firstScan == spec.scans) {
                EXPECT_EQ(result.exitCode, 1) << result.errors;
                EXPECT_NE(result.errors.find("no scan"), std::string::npos) << result.errors;
                continue;
            }
            ASSERT_EQ(result.exitCode, 0) << result.errors;
            std::vector<Marker> want = row.markers;
            if (format.addsStartMarker && (want.empty() || want.front().scan != 0)) {
                want.insert(want.begin(), {0, "Acquisition start"});
            }
            EXPECT_EQ(format.readBack(dir.File("part." + format.extension), row.firstScan), want);
        }
    }
}

// A file that a recorder holds is never repaired, whichever of the recorder's
// two locks tells it: here only the one a second recorder meets (as where a
// file system refuses the other), taken by this test.
TEST(ExportSafety, ARepairTakesTheRecordersLockFirst) {
    test::TempDir dir;
    const std::string path = dir.File("killed.wdq");
    std::array<ChannelInfo, 1> channels{};
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, 1000, 1, 0.002, channels, 1700000000);
    std::string bytes(header.begin(), header.end());
    bytes += std::string(400, '\x04');
    WriteText(path, bytes);
    const std::map<std::string, std::string> before = Contents(dir.path());
    {
        const int held = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        const Outcome result = RunFile(dir, {"repair", path});
        ::close(held);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.errors.find(path + ": it is being recorded"), std::string::npos)
            << result.errors;
        EXPECT_EQ(Differences(before, Contents(dir.path())), "")
            << "nothing moved aside, nothing written";
    }
    const Outcome result = RunFile(dir, {"repair", path});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(test::ReadText(path + ".bak"), bytes);
    std::string error;
    const auto repaired = test::ReadWdq(test::ReadBytes(path), error);
    ASSERT_TRUE(repaired) << error;
    EXPECT_EQ(repaired->ScanCount(), 200);
}

// The replaced file is the one a symbolic link names, with its permissions; a
// pipe is written as a pipe, never renamed over.
TEST(ExportSafety, AReplacementKeepsLinksPermissionsAndPipes) {
    test::TempDir dir;
    const std::string wdq = dir.File("run.wdq");
    WriteWdq(wdq, {});
    const std::string dat = dir.File("run.dat");
    WriteText(dat, "0.000 1.5 \r\n0.002 2.5 \r\n0.004 -3.25 \r\n");
    WriteText(dir.File("run_info.txt"),
              "Channel name: Chn0\r\nMarker #0: Acquisition start at 0.000 sec\r\n");
    const auto exportTo = [&](const std::string& from, ExportFormat format,
                              const std::string& out) {
        std::string error;
        const auto reader = OpenRecording(from, error);
        EXPECT_TRUE(reader) << error;
        if (!reader) return false;
        ExportSelection all;
        EXPECT_TRUE(SelectExport(reader->Info(), {}, {}, "", all, error)) << error;
        std::string note;
        const bool ok =
            ExportRecording(*reader, all, format, out, DefaultFileOpener(), {}, note, error);
        EXPECT_TRUE(ok) << error;
        return ok;
    };

    const std::string real = dir.File("real.wdq");
    WriteText(real, "earlier export");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(real, mode);
    const std::string link = dir.File("link.wdq");
    fs::create_symlink(real, link);
    ASSERT_TRUE(exportTo(wdq, ExportFormat::WinDaq, link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::ReadBytes(real), test::ReadBytes(wdq));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, mode);

    const std::string pipe = dir.File("pipe.dat");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string received;
    std::thread drain([&] { received = test::ReadText(pipe); });
    const bool ok = exportTo(dat, ExportFormat::Text, pipe);
    drain.join();
    ASSERT_TRUE(ok);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(received, test::ReadText(dat));
}

}  // namespace
}  // namespace tamix
