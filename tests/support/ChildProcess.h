// A program run by a test: started by path with its own arguments (no shell),
// its standard output read through a pipe, signalled and reaped by process id.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tamix::test {

class ChildProcess {
  public:
    // Starts `argv[0]` with `argv`; standard input from `stdinPath` (default
    // /dev/null), standard error into `stderrPath` when given.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::string& stdinPath = "/dev/null",
                          const std::string& stderrPath = {}) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdinPath.c_str(), O_RDONLY, 0);
        if (!stderrPath.empty()) {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~ChildProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0) ::close(out_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // One line of standard output without its end, or empty at the end of output.
    std::string ReadLine() {
        std::string line;
        char c = 0;
        while (::read(out_, &c, 1) == 1 && c != '\n') line.push_back(c);
        return line;
    }
    void Signal(int sig) const {
        if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
    }
    // The raw wait status once the program has ended. A program still running
    // after `limit` is killed (and reads as killed), so that a test fails
    // instead of holding up the whole run.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(120)) {
        if (pid_ <= 0) return -1;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!reaped_) {
            const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) {
                reaped_ = true;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
                }
                reaped_ = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return status_;
    }
    // Signals `sig` until the program ends, every `every`, and returns its
    // exit status: a signal that reached it before it took it up (some
    // sanitizer runtimes hold a signal back until the next blocking call ends)
    // is then sent once more while it waits.
    int StopWith(int sig, std::chrono::seconds every = std::chrono::seconds(2)) {
        for (int attempt = 0; attempt < 30 && pid_ > 0 && !reaped_; ++attempt) {
            Signal(sig);
            const auto until = std::chrono::steady_clock::now() + every;
            while (std::chrono::steady_clock::now() < until && !reaped_) {
                if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
                if (!reaped_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return ExitCode();
    }
    // The exit status, or 128 + signal when a signal ended it.
    int ExitCode() {
        const int s = Wait();
        return WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

}  // namespace tamix::test
