// The command-line programs follow the conventions their users expect:
// --version, "--opt=value" beside "--opt value", help for each command, a
// mistyped unit named with the known ones, standard output as an output (a
// full disk or a closed pipe is an error with its own status), and exports
// to standard output, a pipe or a device that never invent files beside them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/RunProgram.h"
#include "../support/TempDir.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::ProgramResult;
using test::RunProgram;

std::set<std::string> Entries(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// A short recording with markers, made once for every test here.
class ConventionsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        const std::string markers = dir_->File("markers.txt");
        std::ofstream(markers) << "first, \"quoted\"\nsecond\n";
        const ProgramResult r = RunProgram(
            {TAMIX_RECORD_PATH, "--simulate", "--unpaced", "--quiet", "--profile",
             dir_->File("p.INI"), "--inputs", "1,2,A", "--time", "0.2", dir_->File("rec.wdq")},
            test::StdinFrom(markers));
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Recording() { return dir_->File("rec.wdq"); }

    test::TempDir dir;

  private:
    static test::TempDir* dir_;
};
test::TempDir* ConventionsTest::dir_ = nullptr;

TEST_F(ConventionsTest, EveryProgramPrintsItsVersion) {
    const std::pair<const char*, const char*> programs[] = {{TAMIX_RECORD_PATH, "tamix-record"},
                                                            {TAMIX_FILE_PATH, "tamix-file"},
                                                            {TAMIX_SIM_PATH, "tamix-sim"}};
    for (const auto& [path, name] : programs) {
        SCOPED_TRACE(name);
        const ProgramResult r = RunProgram({path, "--version"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, std::string(name) + " " TAMIX_VERSION "\n");
    }
}

TEST_F(ConventionsTest, EachCommandOfTamixFileHasItsHelp) {
    const std::vector<std::vector<std::string>> cases = {{"info", "--help"},
                                                         {"export", "--help"},
                                                         {"repair", "--help"},
                                                         {"export", Recording(), "-", "-h"},
                                                         {"info", "no-such-file", "--help"}};
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args.front() + " " + args.back());
        std::vector<std::string> argv = {TAMIX_FILE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProgramResult r = RunProgram(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.rfind("Usage: tamix-file " + args.front() + " ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("3  standard output could not be written"), std::string::npos);
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST_F(ConventionsTest, AMistypedUnitIsNamedWithTheKnownOnes) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--simulate", "KPR-T31O", "out.wdq"}, "KPR-T31O"},
        {{"--simulate=NORV4", "out.wdq"}, "NORV4"},
        {{"--simulate", "NORV4"}, "NORV4"},
        {{"--simulate", "a30008sn", "--time", "1", "out.wdq"}, "a30008sn"},
        {{"--simulate=", "out.wdq"}, ""},
        {{"--simulate=FOREIGN1", "out.wdq"}, "FOREIGN1"},
    };
    for (const auto& [args, key] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        test::TempDir here;
        std::vector<std::string> argv = {TAMIX_RECORD_PATH, "--quiet", "--profile",
                                         dir.File("p.INI")};
        argv.insert(argv.end(), args.begin(), args.end());
        // In a folder of its own, where a key taken for a FILE would be recorded.
        test::RunOptions options = test::WithDeadline(std::chrono::seconds(20));
        options.workingDir = here.path().string();
        const ProgramResult r = RunProgram(argv, options);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("unknown unit \"" + key + "\""), std::string::npos) << r.err;
        for (const char* known : {"A30008SN", "A4001lsz", "KPR-T310", "NORV40", "KPR-44B"}) {
            EXPECT_NE(r.err.find(known), std::string::npos) << known << " missing: " << r.err;
        }
        EXPECT_TRUE(fs::is_empty(here.path()));
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{TAMIX_SIM_PATH, "--unit", "BOGUS"},
          std::vector<std::string>{TAMIX_SIM_PATH, "--unit=BOGUS"}}) {
        SCOPED_TRACE(args.back());
        const ProgramResult r = RunProgram(args, test::WithDeadline(std::chrono::seconds(20)));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << "no terminal is offered: " << r.out;
        EXPECT_NE(r.err.find("unknown unit \"BOGUS\""), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("A60089Rz"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("TIRQEL"), std::string::npos) << r.err;
    }
}

// Every option with a value takes it after '=' as well; a switch refuses one.
TEST_F(ConventionsTest, AnOptionsValueMayFollowAnEqualsSign) {
    const std::string out = dir.File("eq.dat");
    ProgramResult r =
        RunProgram({TAMIX_RECORD_PATH, "--simulate=HLX-7", "--unpaced", "--quiet",
                    "--profile=" + dir.File("p.INI"), "--inputs=1,B", "--time=0.05",
                    "--format=text", "--name=B=Flow", "--unit=B=mV", "--cal=B=2,1", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunProgram({TAMIX_FILE_PATH, "info", "--json", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Json info = Json::parse(r.out);
    ASSERT_EQ(info["channels"].size(), 2u);
    EXPECT_EQ(info["channels"][1]["name"], "Flow");
    EXPECT_EQ(info["scans"].get<int64_t>() % 8, 0);
    EXPECT_GE(info["scans"].get<int64_t>(), 25);

    r = RunProgram({TAMIX_RECORD_PATH, "--simulate", "--quiet=yes", out});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--quiet takes no value"), std::string::npos) << r.err;

    const ProgramResult spaced =
        RunProgram({TAMIX_FILE_PATH, "export", Recording(), "-", "--format", "csv", "--channels",
                    "2,3", "--from", "0.01", "--to-time", "0.1"});
    const ProgramResult joined =
        RunProgram({TAMIX_FILE_PATH, "export", Recording(), "-", "--format=csv", "--channels=2,3",
                    "--from=0.01", "--to-time=0.1"});
    ASSERT_EQ(spaced.exitCode, 0) << spaced.err;
    ASSERT_EQ(joined.exitCode, 0) << joined.err;
    EXPECT_EQ(joined.out, spaced.out);
    EXPECT_EQ(std::count(spaced.out.begin(), spaced.out.end(), '\n'), 1 + 45) << spaced.out;

    test::ChildProcess sim({TAMIX_SIM_PATH, "--unit=NORV40"});
    EXPECT_TRUE(sim.ReadLine().ends_with("=A3000B6u"));
    EXPECT_EQ(sim.StopWith(SIGINT), 0);
}

// What each program writes to standard output, and its status when that fails.
struct OutputCase {
    std::vector<std::string> argv;
    int status;
};

TEST_F(ConventionsTest, StandardOutputThatCannotBeWrittenIsAnErrorOfItsOwn) {
    const std::vector<OutputCase> cases = {
        {{TAMIX_FILE_PATH, "info", Recording()}, 3},
        {{TAMIX_FILE_PATH, "info", "--json", Recording()}, 3},
        {{TAMIX_FILE_PATH, "export", Recording(), "-", "--format", "csv"}, 3},
        {{TAMIX_FILE_PATH, "export", Recording(), "-", "--format=dat"}, 3},
        {{TAMIX_FILE_PATH, "export", Recording(), "-", "--format=wdq"}, 3},
        {{TAMIX_FILE_PATH, "--help"}, 3},
        {{TAMIX_FILE_PATH, "info", "--help"}, 3},
        {{TAMIX_RECORD_PATH, "--help"}, 6},
        {{TAMIX_RECORD_PATH, "--version"}, 6},
        {{TAMIX_SIM_PATH, "--version"}, 3},
        {{TAMIX_SIM_PATH, "--unit", "TIRQEL"}, 3},
    };
    struct Where {
        const char* what;
        test::RunOptions options;
        const char* reason;
    };
    const Where wheres[] = {
        {"a full disk", test::StdoutTo("/dev/full"), "No space left on device"},
        {"a closed pipe", test::StdoutToClosedPipe(false), "Broken pipe"},
        {"a closed pipe, SIGPIPE ignored", test::StdoutToClosedPipe(true), "Broken pipe"},
    };
    for (const Where& w : wheres) {
        for (const OutputCase& c : cases) {
            SCOPED_TRACE(std::string(w.what) + ": " + c.argv[0] + " " + c.argv[1]);
            test::RunOptions options = w.options;
            options.deadline = std::chrono::seconds(30);
            const ProgramResult r = RunProgram(c.argv, options);
            EXPECT_EQ(r.exitCode, c.status) << r.err;
            EXPECT_NE(r.err.find(std::string("standard output: ") + w.reason), std::string::npos)
                << r.err;
        }
    }
}

// The same bytes as an export to a file, and nothing beside the stream.
TEST_F(ConventionsTest, ExportToStandardOutputWritesTheDataOnly) {
    for (const char* format : {"csv", "dat", "wdq", "edf"}) {
        SCOPED_TRACE(format);
        test::TempDir here;
        const std::string file = here.File(std::string("x.") + format);
        const ProgramResult toFile = RunProgram({TAMIX_FILE_PATH, "export", Recording(), file});
        ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
        const std::set<std::string> before = Entries(here.path());
        const ProgramResult toStdout =
            RunProgram({TAMIX_FILE_PATH, "export", Recording(), "-", "--format", format});
        ASSERT_EQ(toStdout.exitCode, 0) << toStdout.err;
        EXPECT_EQ(toStdout.out, test::ReadText(file));
        EXPECT_EQ(Entries(here.path()), before);
        const bool companion = std::string(format) == "csv" || std::string(format) == "dat";
        EXPECT_EQ(toStdout.err.find("was left out") != std::string::npos, companion)
            << toStdout.err;
    }
    const ProgramResult noFormat = RunProgram({TAMIX_FILE_PATH, "export", Recording(), "-"});
    EXPECT_EQ(noFormat.exitCode, 2);
    EXPECT_NE(noFormat.err.find("--format"), std::string::npos) << noFormat.err;
    EXPECT_TRUE(noFormat.out.empty());
}

// Reads a FIFO until its writer closes it, for at most 30 s.
std::string ReadFifo(const std::string& path) {
    // Opened without waiting for the writer; Linux reports the hang-up only
    // after a writer has come and gone.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::string text;
    if (fd < 0) return text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        }
    }
    ::close(fd);
    return text;
}

// A folder under /dev that holds ordinary files keeps a CSV's markers beside it.
TEST_F(ConventionsTest, AFileInAFolderUnderDevIsAnOrdinaryFile) {
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm here";
    const std::string name = "/dev/shm/" + dir.path().filename().string();
    const ProgramResult r = RunProgram({TAMIX_FILE_PATH, "export", Recording(), name + ".csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(name + ".csv"));
    EXPECT_TRUE(fs::is_regular_file(name + "_markers.csv"));
    fs::remove(name + ".csv");
    fs::remove(name + "_markers.csv");
}

TEST_F(ConventionsTest, ExportToAPipeOrADeviceInventsNoFilesBesideIt) {
    for (const char* format : {"csv", "dat", "wdq"}) {
        SCOPED_TRACE(format);
        test::TempDir here;
        const std::string file = here.File(std::string("x.") + format);
        ASSERT_EQ(RunProgram({TAMIX_FILE_PATH, "export", Recording(), file}).exitCode, 0);
        const std::string fifo = here.File(std::string("live.") + format);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        test::ChildProcess writer({TAMIX_FILE_PATH, "export", Recording(), fifo}, "/dev/null",
                                  here.File("err.txt"));
        const std::string streamed = ReadFifo(fifo);
        EXPECT_EQ(writer.ExitCode(), 0) << test::ReadText(here.File("err.txt"));
        EXPECT_EQ(streamed, test::ReadText(file));
        std::set<std::string> expected = {"err.txt", "live." + std::string(format),
                                          "x." + std::string(format)};
        if (std::string(format) == "csv") expected.insert("x_markers.csv");
        if (std::string(format) == "dat") expected.insert("x_info.txt");
        EXPECT_EQ(Entries(here.path()), expected);
    }
    // A device path: its data go there, and nothing lands among the devices,
    // also when standard output behind /dev/stdout is a regular file.
    const ProgramResult r =
        RunProgram({TAMIX_FILE_PATH, "export", Recording(), "/dev/stdout", "--format", "csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("time_s,", 0), 0u) << r.out.substr(0, 80);
    const std::string csv = dir.File("x.csv");
    ASSERT_EQ(RunProgram({TAMIX_FILE_PATH, "export", Recording(), csv}).exitCode, 0);
    const std::string redirected = dir.File("redirected");
    const ProgramResult toFile =
        RunProgram({TAMIX_FILE_PATH, "export", Recording(), "/dev/stdout", "--format", "csv"},
                   test::StdoutTo(redirected));
    EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
    EXPECT_EQ(test::ReadText(redirected), test::ReadText(csv));
    EXPECT_FALSE(fs::exists("/dev/stdout_markers.csv"));
    EXPECT_FALSE(fs::exists(dir.File("redirected_markers.csv")));
    const ProgramResult full =
        RunProgram({TAMIX_FILE_PATH, "export", Recording(), "/dev/full", "--format=csv"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(full.err.find("/dev/full: No space left on device"), std::string::npos) << full.err;
    EXPECT_FALSE(fs::exists("/dev/full_markers.csv"));
}

}  // namespace
}  // namespace tamix
