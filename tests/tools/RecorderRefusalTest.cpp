// tamix-record refuses settings that make no sense: bad profiles and bad
// option values give exit status 2 and a message naming the cause, and no
// output file; a good profile in any line-end form is used as written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
    int exitCode = -1;
    std::string errors;  // standard error
};

bool Ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Runs tamix-record with `args`; its standard error goes to a file (the child
// inherits descriptor 2, redirected while it starts). A recorder that wrongly
// starts a long run, or reads a device without end, is killed at a deadline.
Outcome RunRecorder(const test::TempDir& dir, std::vector<std::string> args) {
    const std::string errPath = dir.File("stderr.txt");
    const int saved = ::dup(STDERR_FILENO);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(err, STDERR_FILENO);
    ::close(err);
    args.insert(args.begin(), TAMIX_RECORD_PATH);
    test::ChildProcess child(args);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (child.Started() && !Ended(child.pid()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    child.Signal(SIGKILL);
    const int code = child.ExitCode();
    return {code, test::ReadText(errPath)};
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct BadProfile {
    const char* what;
    std::string text;     // written to the profile, unless `path` is given
    std::string path;     // a profile path that is no file
    std::string message;  // part of the message on standard error
};

// Inputs 1..4 are recorded by default, so their calibrations count.
const std::vector<BadProfile> kBadProfiles = {
    {"time 0", "[Options]\r\ntime=0\r\n", "", "[Options] time=0: not a number from 0.01 to 6000"},
    {"time -5", "[Options]\r\ntime=-5\r\n", "", "time=-5: not a number"},
    {"time nan", "[Options]\r\ntime=nan\r\n", "", "time=nan: not a number"},
    {"time abc", "[Options]\r\ntime=abc\r\n", "", "time=abc: not a number"},
    {"time huge", "[Options]\r\ntime=1e999\r\n", "", "time=1e999: not a number"},
    {"time over 6000", "[Options]\r\ntime=6001\r\ntime unit=1\r\n", "", "time=6001: not a number"},
    {"time unit", "[Options]\r\ntime unit=2\r\n", "", "time unit=2: not 0 (minutes) or 1"},
    {"freq index", "[Options]\r\nfreq=9\r\n", "", "freq=9: not a list index from 0 to 4"},
    {"file type", "[Options]\r\nfiletype=5\r\n", "", "filetype=5: not 0 (WinDaq binary)"},
    {"input flag", "[Options]\r\nchn2=7\r\n", "", "chn2=7: not 0 or 1"},
    {"1 V nan", "[Channel info]\r\n1VValue0=nan\r\n", "",
     "1VValue0=nan, 0Value0=0.0: not a finite"},
    {"0 V inf", "[Channel info]\r\n0Value1=inf\r\n", "", "0Value1=inf: not a finite number"},
    {"1 V -inf", "[Channel info]\r\n1VValue2=-inf\r\n", "", "1VValue2=-inf, 0Value2=0.0: not a"},
    {"1 V zero", "[Channel info]\r\n1VValue3=0\r\n0Value3=5\r\n", "",
     "1VValue3=0, 0Value3=5: 1 V reads the same as 0 V"},
    {"1 V minus zero", "[Channel info]\r\n1VValue0=-0.0\r\n", "", "1 V reads the same as 0 V"},
    {"1 V no number", "[Channel info]\r\n1VValue0=abc\r\n", "", "1 V reads the same as 0 V"},
    {"1 V lost in 0 V", "[Channel info]\r\n1VValue1=1e-20\r\n0Value1=1e6\r\n", "",
     "1VValue1=1e-20, 0Value1=1e6: 1 V reads the same as 0 V"},
    {"full scale overflow", "[Channel info]\r\n1VValue0=1e308\r\n", "", "beyond the range"},
    {"name too long", "[Channel info]\r\nname0=" + std::string(31, 'n') + "\r\n", "",
     "name0: 31 characters, at most 30"},
    {"unit too long", "[Channel info]\r\nunit1=\xC2\xB5Volt\r\n", "",
     "unit1: 5 characters, at most 4"},
    {"byte-order mark", "\xEF\xBB\xBF[Options]\r\ntime=abc\r\n", "", "time=abc: not a number"},
    {"lone CR", "[Options]\rtime=-5\rfreq=1\r", "", "time=-5: not a number"},
    {"LF", "[Options]\ntime=0\n", "", "time=0: not a number"},
    {"over 1 MiB", "[Options]\r\n" + std::string(1024 * 1024, ';') + "\r\n", "",
     "not read: Larger than 1 MiB"},
    {"directory", "", "/", "profile / not read: Is a directory"},
    {"device", "", "/dev/urandom", "profile /dev/urandom not read: Not a regular file"},
};

TEST(RecorderRefusalTest, BadProfilesAreRefusedBeforeAnythingIsCreated) {
    for (const BadProfile& c : kBadProfiles) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::string profile = c.path;
        if (profile.empty()) {
            profile = dir.File("tamix.INI");
            WriteFile(profile, c.text);
        }
        const std::string out = dir.File("out.wdq");
        const Outcome r =
            RunRecorder(dir, {"--simulate", "--unpaced", "--quiet", "--profile", profile, out});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_FALSE(fs::exists(out));
    }
}

struct BadOption {
    std::vector<std::string> args;
    std::string message;
};

TEST(RecorderRefusalTest, OptionValuesAreTakenWholeAndChecked) {
    const std::string cal = "--cal takes INPUT=V1,V0 with two numbers";
    const std::string time = "--time takes a positive duration";
    const std::vector<BadOption> cases = {
        {{"--time", "1.5.5"}, time},
        {{"--time", "0"}, time},
        {{"--time", "-5"}, time},
        {{"--time", "nan"}, time},
        {{"--time", "abc"}, time},
        {{"--time", "6001h"}, time},
        {{"--time", " 5"}, time},
        {{"--cal", "A=1,2,3"}, cal},
        {{"--cal", "A=1x,0y"}, cal},
        {{"--cal", "A=1"}, cal},
        {{"--cal", "A=1e999,0"}, cal},
        {{"--cal", "A=nan,0"}, "--cal A=nan,0: not a finite number"},
        {{"--cal", "A=1,-inf"}, "--cal A=1,-inf: not a finite number"},
        {{"--cal", "2=0,3"}, "--cal 2=0,3: 1 V reads the same as 0 V"},
        {{"--cal", "2=1e308,0"}, "beyond the range of numbers"},
        {{"--name", "1=" + std::string(31, 'n')}, "31 characters, at most 30 are possible"},
        {{"--unit", "1=Volts"}, "--unit 1=Volts: 5 characters, at most 4 are possible"},
        {{"--unit", "1=\xC2\xB5V\xC2\xB5V\xC2\xB5"}, "5 characters, at most 4"},
        {{"--inputs", "1,,2"}, "unknown input \"\""},
        {{"--inputs", "1,2,"}, "unknown input \"\""},
        {{"--profile", ""}, "--profile takes a path"},
        {{"-run.wdq"}, "unknown option -run.wdq"},
    };
    for (const BadOption& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        test::TempDir dir;
        const std::string out = dir.File("out.wdq");
        std::vector<std::string> args = {"--simulate", "--unpaced", "--quiet", "--profile",
                                         dir.File("tamix.INI")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(out);
        const Outcome r = RunRecorder(dir, args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_FALSE(fs::exists(out));
    }
}

// Restores the working directory of the test process.
class InDirectory {
  public:
    explicit InDirectory(const fs::path& dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~InDirectory() { fs::current_path(saved_); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    fs::path saved_;
};

// A byte-order mark and lone CRs hide nothing; "--" lets a FILE begin with '-';
// limits count characters, not bytes (thirty two-byte characters are a name).
TEST(RecorderRefusalTest, AGoodProfileInAnyLineFormIsUsedAndDashDashEndsTheOptions) {
    test::TempDir dir;
    const std::string profile = dir.File("tamix.INI");
    WriteFile(profile,
              "\xEF\xBB\xBF[Options]\rchn2=0\rchn3=0\rchn4=0\rchn6=1\r\n[Channel info]\n"
              "1VValue5=2.5\r0Value5=-1\r");
    std::string micro;
    for (int i = 0; i < 30; ++i) micro += "\xC2\xB5";
    const InDirectory here(dir.path());
    const Outcome r = RunRecorder(dir, {"--simulate", "--unpaced", "--quiet", "--profile", profile,
                                        "--time", "0.05", "--name", "1=" + micro, "--", "-run"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(dir.File("-run.wdq")), error);
    ASSERT_TRUE(f) << error;
    ASSERT_EQ(f->channelCount, 2) << "inputs 1 and B from the profile";
    EXPECT_DOUBLE_EQ(f->channels[1].intercept, -1.0);
}

// A mistyped profile path is told, not taken silently for the defaults (four
// inputs, the defaults' time).
TEST(RecorderRefusalTest, AProfileThatDoesNotExistIsToldAndTheDefaultsAreUsed) {
    test::TempDir dir;
    const std::string profile = dir.File("no-such.INI");
    const std::string out = dir.File("run.wdq");
    const Outcome r = RunRecorder(
        dir, {"--simulate", "--unpaced", "--quiet", "--profile", profile, "--time", "0.05", out});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.errors.find("profile " + profile + " does not exist; the defaults are used"),
              std::string::npos)
        << r.errors;
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(out), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->channelCount, 4);
    EXPECT_FALSE(std::filesystem::exists(profile)) << "the recorder writes no profile";
}

}  // namespace
}  // namespace tamix
