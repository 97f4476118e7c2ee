// The recorder's terminal on POSIX systems: SIGINT, SIGTERM and SIGHUP stop,
// standard input is polled.
#include <poll.h>
#include <unistd.h>

#include <csignal>

#include "RecorderConsole.h"

namespace tamix {
namespace {

std::atomic<bool>* gStop = nullptr;

extern "C" void OnSignal(int) {
    if (gStop != nullptr) gStop->store(true);
}

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop, const std::atomic<bool>&) {
    gStop = &stop;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds wait) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return 0;
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    return n > 0 ? static_cast<long>(n) : -1;
}

}  // namespace tamix
