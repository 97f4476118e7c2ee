#include "device/PtyUnit.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "device/ProtocolBytes.h"

namespace tamix {
namespace {

using Clock = SimulatedUnit::Clock;

constexpr std::size_t kOutBytes = 65536;
// Scans are sent a batch at a time, and no more often than the host reads
// them (it wakes for at least 16 ms of the stream): two batches of the 1 ms models.
constexpr double kSendInterval = 0.016;

int64_t ScansPerSend(const KnownUnit* model) {
    if (model == nullptr || !(model->samplePeriod > 0.0)) return kScansPerBatch;
    const auto scans = static_cast<int64_t>(std::ceil(kSendInterval / model->samplePeriod - 1e-9));
    return std::max<int64_t>(kScansPerBatch, scans);
}

// Reads and discards what a non-blocking descriptor holds.
void Drain(int fd) {
    std::array<uint8_t, 512> scratch{};
    while (::read(fd, scratch.data(), scratch.size()) > 0) {
    }
}

// The time left until `deadline` for ppoll; nullptr (no limit) for max().
const timespec* Until(Clock::time_point deadline, timespec& ts) {
    if (deadline == Clock::time_point::max()) return nullptr;
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return &ts;
}

}  // namespace

PtyUnit::PtyUnit(SimulatedUnitOptions options) : unit_(std::move(options)), out_(kOutBytes) {}

PtyUnit::~PtyUnit() {
    Close();
    if (wake_ >= 0) ::close(wake_);
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
    if (wake_ < 0) wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        error = std::string("cannot create an event: ") + std::strerror(errno);
        return false;
    }
    // Without a host the master only reports a hang-up; the path's open event
    // says when one arrives. Where that is not available, AwaitHost looks again
    // every 100 ms.
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && ::inotify_add_watch(watch_, path_.c_str(), IN_OPEN) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    return true;
}

void PtyUnit::Interrupt() {
    const uint64_t one = 1;
    if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
}

bool PtyUnit::AwaitHost() {
    for (;;) {
        pollfd master{master_, 0, 0};
        ::poll(&master, 1, 0);
        if (!(master.revents & POLLHUP)) return true;
        std::array<pollfd, 2> fds{{{wake_, POLLIN, 0}, {watch_, POLLIN, 0}}};
        const int r = ::poll(fds.data(), watch_ >= 0 ? 2 : 1, watch_ >= 0 ? -1 : 100);
        if (r > 0 && (fds[1].revents & POLLIN)) Drain(watch_);
        if (r > 0 && (fds[0].revents & POLLIN)) {
            Drain(wake_);
            return false;
        }
    }
}

void PtyUnit::TakeHostBytes() {
    std::array<uint8_t, 256> bytes{};
    for (;;) {
        const ssize_t n = ::read(master_, bytes.data(), bytes.size());
        if (n <= 0) return;
        const auto t = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            unit_.Advance(t, 0);
            unit_.HostWrite(bytes[static_cast<std::size_t>(i)], t);
        }
    }
}

void PtyUnit::Serve(const std::atomic<bool>& stop) {
    bool hostPresent = false;
    while (!stop.load()) {
        if (!hostPresent) {
            if (!AwaitHost()) continue;
            hostPresent = true;
        }
        unit_.Advance(Clock::now(), 0);
        lost_ = unit_.lostScans();
        if (outBegin_ == outEnd_) outBegin_ = outEnd_ = 0;
        if (unit_.Buffered() > 0 && outEnd_ < out_.size()) {
            outEnd_ += unit_.Take(out_.data() + outEnd_, out_.size() - outEnd_);
        }
        if (outEnd_ > outBegin_) {
            const ssize_t n = ::write(master_, out_.data() + outBegin_, outEnd_ - outBegin_);
            if (n > 0) outBegin_ += static_cast<std::size_t>(n);
        }
        // While streaming, the host's requests and stop byte are taken with
        // the next batch, so that each request does not cost a wake-up.
        const bool streaming = unit_.streaming();
        const Clock::time_point due =
            streaming ? unit_.WhenScansDue(ScansPerSend(unit_.model())) : Clock::time_point::max();
        std::array<pollfd, 3> fds{{{wake_, POLLIN, 0}, {master_, 0, 0}, {watch_, POLLIN, 0}}};
        if (!streaming) fds[1].events |= POLLIN;
        if (outEnd_ > outBegin_) fds[1].events |= POLLOUT;
        timespec ts{};
        const int ready = ::ppoll(fds.data(), watch_ >= 0 ? 3 : 2, Until(due, ts), nullptr);
        wakeUps_.fetch_add(1, std::memory_order_relaxed);
        if (ready < 0) continue;
        if (fds[0].revents & POLLIN) Drain(wake_);
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            // The host has left: the next one finds a unit that starts over.
            Drain(master_);
            unit_.Reset();
            outBegin_ = outEnd_ = 0;
            hostPresent = false;
            continue;
        }
        if (watch_ >= 0 && (fds[2].revents & POLLIN)) {
            // A new host opened the terminal (the last one may have left so
            // quickly that no hang-up was seen): it starts with a fresh unit.
            // Its own bytes are read below, after the reset.
            Drain(watch_);
            unit_.Reset();
            outBegin_ = outEnd_ = 0;
        }
        TakeHostBytes();
    }
}

void PtyUnit::Start() {
    stop_ = false;
    thread_ = std::thread([this] { Serve(stop_); });
}

void PtyUnit::Close() {
    stop_ = true;
    Interrupt();
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (watch_ >= 0) {
        ::close(watch_);
        watch_ = -1;
    }
}

}  // namespace tamix
