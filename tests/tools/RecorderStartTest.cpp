// tamix-record changes no file before it has a recording to put there: a unit
// that never answers, or answers as another model, refuses the start; a stop
// before the first second is on disk leaves an earlier recording and its info
// file as they were; an output or info file that cannot be replaced, and one
// that is no regular file, are refused before anything is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "recording/OutputFile.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kOld = "OLD\r\n";
const std::string kOldInfo = "an earlier run's channels and markers\r\n";
constexpr int kExitNothingRecorded = 7;

bool Ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

struct Outcome {
    int exitCode = -1;
    std::string errors;
};

class StartTest : public ::testing::Test {
  protected:
    std::vector<std::string> Recorder(std::vector<std::string> args, const std::string& out) {
        args.insert(args.begin(), {TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI")});
        if (out.ends_with(".dat")) args.insert(args.end(), {"--format", "text"});
        args.push_back(out);
        return args;
    }
    // Runs to its end; a recorder that hangs (on a pipe, on a silent port) is
    // killed at a deadline far beyond any start-up, and then fails the test.
    Outcome Run(const std::vector<std::string>& argv) {
        const std::string err = dir.File("stderr.txt");
        test::ChildProcess child(argv, "/dev/null", err);
        const auto deadline = Clock::now() + 60s;
        while (child.Started() && !Ended(child.pid()) && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        child.Signal(SIGKILL);
        const int code = child.ExitCode();
        return {code, test::ReadText(err)};
    }
    void WriteEarlier(const std::string& out) {
        std::ofstream(out, std::ios::binary) << kOld;
        if (out.ends_with(".dat")) std::ofstream(Info(out), std::ios::binary) << kOldInfo;
    }
    static std::string Info(const std::string& dat) {
        return dat.substr(0, dat.size() - 4) + "_info.txt";
    }
    // The earlier files, byte for byte, and nothing beside them.
    void ExpectEarlier(const std::string& out) {
        EXPECT_EQ(test::ReadText(out), kOld);
        std::vector<std::string> want = {fs::path(out).filename().string()};
        if (out.ends_with(".dat")) {
            EXPECT_EQ(test::ReadText(Info(out)), kOldInfo);
            want.push_back(fs::path(Info(out)).filename().string());
        }
        ExpectFolderHolds(want);
    }
    void ExpectFolderHolds(std::vector<std::string> want) {
        want.insert(want.end(), {"p.INI", "stderr.txt", "first.err"});
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            if (std::find(want.begin(), want.end(), name) == want.end())
                ADD_FAILURE() << "left behind: " << name;
        }
    }

    test::TempDir dir;
};

// A pseudo-terminal that nobody answers on: its other end stays open, unread.
class SilentPort {
  public:
    SilentPort() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            path_ = ::ptsname(master_);
        }
    }
    ~SilentPort() {
        if (master_ >= 0) ::close(master_);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
};

// A pseudo-terminal that echoes every byte it is sent and sends nothing else:
// each command seems answered, yet no scan ever comes.
class EchoingPort {
  public:
    EchoingPort() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        path_ = ::ptsname(master_);
        echo_ = std::thread([this] {
            while (!done_.load()) {
                pollfd p{master_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                char bytes[64];
                const ssize_t n = ::read(master_, bytes, sizeof bytes);
                // A byte that cannot be echoed is a reply missed, as from a real unit.
                if (n > 0 && ::write(master_, bytes, static_cast<std::size_t>(n)) == n) continue;
                // The other end closed: poll reports it at once, so pause.
                std::this_thread::sleep_for(5ms);
            }
        });
    }
    ~EchoingPort() {
        done_ = true;
        if (echo_.joinable()) echo_.join();
        if (master_ >= 0) ::close(master_);
    }
    EchoingPort(const EchoingPort&) = delete;
    EchoingPort& operator=(const EchoingPort&) = delete;
    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
    std::atomic<bool> done_{false};
    std::thread echo_;
};

// Serial strings of every known bridge, one per model (and both KPR-T310s).
const char* const kSerials[] = {"A30008SN", "A3000B6G", "A3000B6H", "A30008SG",
                                "A3000B6u", "A60089Rz", "A4001lsz"};

TEST_F(StartTest, AUnitThatNeverAnswersIsNoUnitAndTheEarlierFileStays) {
    for (const char* serial : kSerials) {
        for (const char* name : {"p.wdq", "p.dat"}) {
            SCOPED_TRACE(std::string(serial) + " " + name);
            const std::string out = dir.File(name);
            WriteEarlier(out);
            const Outcome r =
                Run(Recorder({"--port", std::string("/dev/null=") + serial, "--time", "5s"}, out));
            EXPECT_EQ(r.exitCode, 1) << r.errors;
            EXPECT_NE(r.errors.find("Can't find proper data acquisition system"), std::string::npos)
                << r.errors;
            ExpectEarlier(out);
            fs::remove(out);
            fs::remove(Info(out));
        }
    }
    SilentPort silent;
    EchoingPort echoing;
    for (const std::string& port : {silent.path(), echoing.path()}) {
        SCOPED_TRACE(port);
        ASSERT_FALSE(port.empty());
        const std::string out = dir.File("pty.wdq");
        WriteEarlier(out);
        const Outcome r =
            Run(Recorder({"--port", port + "=A30008SN", "--inputs", "1,2", "--time", "5s"}, out));
        EXPECT_EQ(r.exitCode, 1) << r.errors;
        ExpectEarlier(out);
        const std::string fresh = dir.File("fresh.wdq");
        const Outcome f = Run(Recorder({"--port", port + "=A30008SN", "--time", "5s"}, fresh));
        EXPECT_EQ(f.exitCode, 1) << f.errors;
        EXPECT_FALSE(fs::exists(fresh)) << "a file that was not there is not made";
    }
}

// The bridge's serial names one model, the unit behind it is another: its
// answers do not fit, so it is no usable unit.
TEST_F(StartTest, AUnitOfAnotherModelIsNoUnitAndTheEarlierFileStays) {
    struct Case {
        const char* unit;    // what tamix-sim plays
        const char* serial;  // what the recorder is told
    };
    for (const Case& c : {Case{"NORV40", "A30008SN"}, Case{"KPR-T310", "A3000B6u"},
                          Case{"HLX-7", "A3000B6u"}, Case{"NORV40", "A4001lsz"}}) {
        SCOPED_TRACE(std::string(c.unit) + " as " + c.serial);
        test::ChildProcess sim({TAMIX_SIM_PATH, "--unit", c.unit});
        const std::string line = sim.ReadLine();
        const std::string port = line.substr(0, line.find('='));
        ASSERT_FALSE(port.empty()) << line;
        const std::string out = dir.File("other.wdq");
        WriteEarlier(out);
        const Outcome r = Run(
            Recorder({"--port", port + "=" + c.serial, "--inputs", "1,2", "--time", "5s"}, out));
        EXPECT_EQ(r.exitCode, 1) << r.errors;
        ExpectEarlier(out);
        sim.Signal(SIGTERM);
    }
}

// Where the recorder has its recording open, as /proc shows it: the new file
// beside an earlier one has no name yet, a new target has its own.
bool HasRecordingOpen(pid_t pid, const fs::path& folder, const std::string& target) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string to = fs::read_symlink(e.path(), ec).string();
        if (ec) continue;
        if (to.starts_with(folder.string() + "/#") || to.starts_with(folder.string() + "/.") ||
            (to == target && fs::exists(target)))
            return true;
    }
    return false;
}

// Ctrl-C, kill or a closed terminal within the first second: nothing is
// recorded, which the recorder says, with a status of its own. The stop is
// sent as soon as the recording's file is open; a machine so slow that the
// first second passed meanwhile makes a complete run instead, which is tried
// again.
TEST_F(StartTest, AStopBeforeTheFirstSecondIsOnDiskLeavesTheEarlierFileAsItWas) {
    struct Case {
        const char* name;
        bool earlier;
        int sig;
    };
    for (const Case& c : {Case{"stop.wdq", true, SIGINT}, Case{"stop.dat", true, SIGTERM},
                          Case{"new.wdq", false, SIGHUP}, Case{"new.dat", false, SIGINT}}) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.File(c.name);
        bool stoppedEarly = false;
        for (int attempt = 0; attempt < 3 && !stoppedEarly; ++attempt) {
            if (c.earlier) WriteEarlier(out);
            const std::string err = dir.File("stderr.txt");
            test::ChildProcess rec(Recorder({"--simulate", "--inputs", "1,2", "--time", "60"}, out),
                                   "/dev/null", err);
            const auto deadline = Clock::now() + 30s;
            while (!HasRecordingOpen(rec.pid(), dir.path(), out) && !Ended(rec.pid()) &&
                   Clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
            rec.Signal(c.sig);
            const int code = rec.ExitCode();
            const std::string errors = test::ReadText(err);
            if (code == 0) {
                // The first second was on disk before the stop: a whole recording.
                if (out.ends_with(".wdq")) {
                    std::string error;
                    const auto f = test::ReadWdq(test::ReadBytes(out), error);
                    ASSERT_TRUE(f) << error;
                    EXPECT_GE(f->ScanCount(), 496);
                }
                fs::remove(out);
                fs::remove(Info(out));
                continue;
            }
            stoppedEarly = true;
            EXPECT_EQ(code, kExitNothingRecorded) << errors;
            EXPECT_NE(errors.find("nothing was recorded"), std::string::npos) << errors;
            EXPECT_NE(errors.find(out), std::string::npos) << errors;
            if (c.earlier) {
                ExpectEarlier(out);
            } else {
                ExpectFolderHolds({});
                EXPECT_FALSE(fs::exists(out));
                EXPECT_FALSE(fs::exists(Info(out)));
            }
        }
        EXPECT_TRUE(stoppedEarly) << "no stop fell into the first second";
        fs::remove(out);
        fs::remove(Info(out));
    }
}

// The recorder's lock is on the target's name for the whole run: on the
// earlier file until the new one takes its place, then on the new one.
TEST_F(StartTest, ARecordingOverAnEarlierFileHoldsItsNameFromStartToEnd) {
    const std::string out = dir.File("held.wdq");
    WriteEarlier(out);
    test::ChildProcess first(Recorder({"--simulate", "--inputs", "1,2", "--time", "60"}, out),
                             "/dev/null", dir.File("first.err"));
    const auto deadline = Clock::now() + 30s;
    // The recorder opens the earlier file and then locks it: the lock, not
    // the open file, is what tells that the start has got that far.
    while (!(HasRecordingOpen(first.pid(), dir.path(), out) && HeldByRecorder(out)) &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(HeldByRecorder(out));
    const Outcome second = Run(Recorder({"--simulate", "A3000B6G", "--time", "1"}, out));
    EXPECT_EQ(second.exitCode, 3) << second.errors;
    EXPECT_NE(second.errors.find("being recorded by another program"), std::string::npos)
        << second.errors;
    // Once the new recording has its place: the lock went with it.
    while (test::ReadText(out).size() < 1156 + 4 * 500 && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(HeldByRecorder(out));
    const Outcome again = Run(Recorder({"--simulate", "A3000B6G", "--time", "1"}, out));
    EXPECT_EQ(again.exitCode, 3) << again.errors;
    const Outcome repair = Run({TAMIX_FILE_PATH, "repair", out});
    EXPECT_EQ(repair.exitCode, 1) << repair.errors;
    EXPECT_NE(repair.errors.find("being recorded"), std::string::npos) << repair.errors;
    first.Signal(SIGINT);
    EXPECT_EQ(first.ExitCode(), 0) << test::ReadText(dir.File("first.err"));
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(out), error);
    ASSERT_TRUE(f) << error;
    EXPECT_GE(f->ScanCount(), 500);
    EXPECT_FALSE(HeldByRecorder(out));
    EXPECT_FALSE(fs::exists(out + ".bak")) << "the repair changed nothing";
}

// Runs `argv` as the user nobody, for whom file modes count (the tests run as root).
std::vector<std::string> AsNobody(std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return argv;
}

// An output or info file that a recording could not replace, or that is no
// regular file, is refused at once, with its name and the reason, and
// nothing is written: an earlier recording keeps every byte.
TEST_F(StartTest, AnOutputOrInfoFileThatCannotBeReplacedRefusesTheStart) {
    fs::permissions(dir.path(), fs::perms::all);
    enum class Kind { ReadOnly, Folder, Pipe, Socket, Device };
    struct Case {
        const char* what;
        std::string out;
        std::string refused;  // the file the message names, made as `kind`
        Kind kind;
        std::string reason;
    };
    const std::string dat = dir.File("r.dat");
    const std::string notRegular = "not a regular file";
    const std::vector<Case> cases = {
        {"info file read-only", dat, Info(dat), Kind::ReadOnly, "Permission denied"},
        {"info file a folder", dat, Info(dat), Kind::Folder, "Is a directory"},
        {"info file a pipe", dat, Info(dat), Kind::Pipe, notRegular},
        {"output a pipe", dir.File("fifo.wdq"), dir.File("fifo.wdq"), Kind::Pipe, notRegular},
        {"output a pipe, text", dir.File("fifo.dat"), dir.File("fifo.dat"), Kind::Pipe, notRegular},
        {"output a socket", dir.File("sock.wdq"), dir.File("sock.wdq"), Kind::Socket, notRegular},
        // "/dev/null" itself would be /dev/null.wdq: a link names the device.
        {"output a device", dir.File("null.wdq"), dir.File("null.wdq"), Kind::Device, notRegular},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.out == dat) {
            std::ofstream(dat, std::ios::binary) << kOld;
            ::chmod(dat.c_str(), 0666);
        }
        int socketFd = -1;
        switch (c.kind) {
            case Kind::ReadOnly:
                std::ofstream(c.refused, std::ios::binary) << kOldInfo;
                ::chmod(c.refused.c_str(), 0444);
                break;
            case Kind::Folder:
                fs::create_directory(c.refused);
                break;
            case Kind::Pipe:
                ASSERT_EQ(::mkfifo(c.refused.c_str(), 0666), 0);
                break;
            case Kind::Socket: {
                socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                c.refused.copy(addr.sun_path, sizeof addr.sun_path - 1);
                ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
                break;
            }
            case Kind::Device:
                fs::create_symlink("/dev/null", c.refused);
                break;
        }
        std::vector<std::string> argv = Recorder({"--simulate", "--time", "1"}, c.out);
        // File modes hold back only a user who is not root.
        if (c.kind == Kind::ReadOnly) argv = AsNobody(argv);
        const Outcome r = Run(argv);
        EXPECT_EQ(r.exitCode, 3) << r.errors;
        EXPECT_NE(r.errors.find(c.refused + ": "), std::string::npos) << r.errors;
        EXPECT_NE(r.errors.find(c.reason), std::string::npos) << r.errors;
        if (c.out == dat) {
            EXPECT_EQ(test::ReadText(dat), kOld);
        }
        if (c.kind == Kind::ReadOnly) {
            EXPECT_EQ(test::ReadText(c.refused), kOldInfo);
        }
        if (socketFd >= 0) ::close(socketFd);
        std::error_code ec;
        fs::remove_all(c.refused, ec);
        fs::remove(dat, ec);
    }
}

}  // namespace
}  // namespace tamix
