// The recorder's terminal on POSIX systems: SIGINT, SIGTERM and SIGHUP stop,
// standard input is polled.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <csignal>

#include "RecorderConsole.h"

namespace tamix {
namespace {

std::atomic<bool>* gStop = nullptr;
void (*gOnStop)() = nullptr;

extern "C" void OnSignal(int) {
    if (gStop != nullptr) gStop->store(true);
    if (gOnStop != nullptr) gOnStop();
}

// A pipe whose read end is polled beside standard input: a byte in it ends
// the wait, so the marker reader needs no deadline to notice the run's end.
std::array<int, 2>& WakePipe() {
    static std::array<int, 2> fds = [] {
        std::array<int, 2> p{-1, -1};
        if (::pipe2(p.data(), O_CLOEXEC | O_NONBLOCK) != 0) p = {-1, -1};
        return p;
    }();
    return fds;
}

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop, const std::atomic<bool>&, void (*onStop)()) {
    gStop = &stop;
    gOnStop = onStop;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds wait) {
    std::array<pollfd, 2> fds{{{STDIN_FILENO, POLLIN, 0}, {WakePipe()[0], POLLIN, 0}}};
    const int timeout =
        wait < std::chrono::milliseconds::zero() ? -1 : static_cast<int>(wait.count());
    if (::poll(fds.data(), fds[1].fd < 0 ? 1 : 2, timeout) <= 0) return 0;
    // The wake byte stays in the pipe: every later wait ends at once too.
    if (fds[1].revents != 0 || fds[0].revents == 0) return 0;
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    return n > 0 ? static_cast<long>(n) : -1;
}

void WakeStandardInput() {
    const int fd = WakePipe()[1];
    const char byte = 1;
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // A full pipe already holds a wake byte; nothing else can fail here.
    }
}

}  // namespace tamix
