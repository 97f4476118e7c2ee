#include "device/PtyUnit.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tamix {

PtyUnit::PtyUnit(SimulatedUnitOptions options) : unit_(std::move(options)) {}

PtyUnit::~PtyUnit() {
    Close();
}

bool PtyUnit::Open(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    path_ = name;
    // Raw bytes both ways: the protocol's 0x11, 0x13, 0x0D and 0x1B must pass untouched.
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    return true;
}

void PtyUnit::Serve(const std::atomic<bool>& stop) {
    using Clock = SimulatedUnit::Clock;
    std::vector<uint8_t> pending;
    std::vector<uint8_t> chunk(4096);
    bool hostPresent = false;
    while (!stop.load()) {
        const auto now = Clock::now();
        unit_.Advance(now, 0);
        lost_ = unit_.lostScans();
        while (unit_.Buffered() > 0 && pending.size() < 65536) {
            const std::size_t n = unit_.Take(chunk.data(), chunk.size());
            pending.insert(pending.end(), chunk.begin(),
                           chunk.begin() + static_cast<std::ptrdiff_t>(n));
        }
        if (!pending.empty()) {
            const ssize_t n = ::write(master_, pending.data(), pending.size());
            if (n > 0) pending.erase(pending.begin(), pending.begin() + n);
        }
        // Wake for the host's bytes, or when the next scan is due.
        int timeout = 10;
        const auto next = unit_.WhenBuffered(unit_.Buffered() + 1);
        if (next != Clock::time_point::max()) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
            timeout = static_cast<int>(std::clamp<int64_t>(ms, 0, 10));
        }
        pollfd fd{master_, POLLIN, 0};
        if (!pending.empty()) fd.events |= POLLOUT;
        if (::poll(&fd, 1, timeout) < 0) continue;
        if ((fd.revents & POLLHUP) && !(fd.revents & POLLIN)) {
            // No host has the terminal open: the next one starts over.
            if (hostPresent) {
                unit_.Reset();
                pending.clear();
                hostPresent = false;
            }
            ::usleep(5000);
            continue;
        }
        hostPresent = true;
        if (fd.revents & POLLIN) {
            uint8_t bytes[256];
            const ssize_t n = ::read(master_, bytes, sizeof bytes);
            const auto t = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                unit_.Advance(t, 0);
                unit_.HostWrite(bytes[i], t);
            }
        }
    }
}

void PtyUnit::Start() {
    stop_ = false;
    thread_ = std::thread([this] { Serve(stop_); });
}

void PtyUnit::Close() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace tamix
