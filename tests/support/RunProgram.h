// A program run to its end by a test: started by path (no shell), its
// standard output and error collected, or its standard output sent where a
// test wants it (a device such as /dev/full, or a pipe nobody reads), with
// SIGPIPE as the caller chose. A program that does not end is killed at a deadline.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace tamix::test {

struct ProgramResult {
    int exitCode = -1;  // 128 + signal when a signal ended it
    std::string out;    // standard output, when collected
    std::string err;
};

enum class Stdout {
    Collect,     // read by the test
    ClosedPipe,  // a pipe whose reading end is closed before the program starts
    Path,        // the file or device `stdoutPath`
};

struct RunOptions {
    Stdout stdoutTo = Stdout::Collect;
    std::string stdoutPath;
    std::string stdinPath = "/dev/null";
    std::string workingDir;  // empty: the test's own
    // Start with SIGPIPE ignored, as a parent that ignores it leaves it; else
    // with its default action (ending the process).
    bool sigpipeIgnored = false;
    std::chrono::seconds deadline{60};
};

inline RunOptions StdinFrom(const std::string& path) {
    RunOptions o;
    o.stdinPath = path;
    return o;
}
inline RunOptions StdoutTo(const std::string& path) {
    RunOptions o;
    o.stdoutTo = Stdout::Path;
    o.stdoutPath = path;
    return o;
}
inline RunOptions StdoutToClosedPipe(bool sigpipeIgnored) {
    RunOptions o;
    o.stdoutTo = Stdout::ClosedPipe;
    o.sigpipeIgnored = sigpipeIgnored;
    return o;
}
inline RunOptions WithDeadline(std::chrono::seconds deadline) {
    RunOptions o;
    o.deadline = deadline;
    return o;
}

inline ProgramResult RunProgram(const std::vector<std::string>& argv, const RunOptions& o = {}) {
    ProgramResult result;
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(err, O_CLOEXEC) != 0) return result;
    if (o.stdoutTo != Stdout::Path && ::pipe2(out, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!o.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, o.workingDir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, o.stdinPath.c_str(), O_RDONLY, 0);
    if (o.stdoutTo == Stdout::Path) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, o.stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (o.stdoutTo == Stdout::ClosedPipe) {
        ::close(out[0]);
        out[0] = -1;
    }
    // Dispositions are inherited through exec only as "ignored" or "default".
    struct sigaction previous {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!o.sigpipeIgnored) sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::sigaction(SIGPIPE, &previous, nullptr);
    if (out[1] >= 0) ::close(out[1]);
    ::close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + o.deadline;
    bool killed = false;
    std::vector<pollfd> fds;
    if (out[0] >= 0) fds.push_back({out[0], POLLIN, 0});
    fds.push_back({err[0], POLLIN, 0});
    while (pid > 0 && !fds.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (!killed) ::kill(pid, SIGKILL);
            killed = true;
        }
        if (::poll(fds.data(), fds.size(), killed ? 1000 : static_cast<int>(left.count())) < 0) {
            break;
        }
        for (std::size_t k = fds.size(); k-- > 0;) {
            if (fds[k].revents == 0) continue;
            char buf[65536];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                (fds[k].fd == err[0] ? result.err : result.out)
                    .append(buf, static_cast<std::size_t>(n));
            } else {
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(k));
            }
        }
    }
    if (out[0] >= 0) ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    if (pid > 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

}  // namespace tamix::test
