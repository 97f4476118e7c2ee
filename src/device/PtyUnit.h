// A simulated unit served on a pseudo-terminal: the host opens the terminal's
// path as it would a real bridge's tty. Used by tamix-sim and by the tests of
// the Linux driver.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "device/SimulatedUnit.h"

namespace tamix {

// Owns the terminal's master side and, after Start, the thread that serves it.
// Open, Start, Close and the destructor belong to the owning thread; Interrupt
// may be called from any thread or a signal handler.
class PtyUnit {
  public:
    explicit PtyUnit(SimulatedUnitOptions options);
    // Stops serving and closes the terminal: the host sees the port vanish.
    ~PtyUnit();
    PtyUnit(const PtyUnit&) = delete;
    PtyUnit& operator=(const PtyUnit&) = delete;

    // Creates the terminal; false with `error` set when it cannot.
    bool Open(std::string& error);
    const std::string& path() const { return path_; }

    // Serves until `stop` is set and Interrupt called (on the calling thread).
    // It sleeps until the host sends a command, the unit's next batch of scans
    // is due (at least 16 ms of them), or a host opens or leaves the
    // terminal: no polling.
    void Serve(const std::atomic<bool>& stop);
    // Wakes Serve to look at its stop flag. Async-signal-safe.
    void Interrupt();
    // Serves on a thread of its own until Close.
    void Start();
    // Ends serving and closes the terminal ("unplugs" the unit).
    void Close();

    int64_t lostScans() const { return lost_.load(); }
    // How often the serving loop has woken up.
    int64_t wakeUps() const { return wakeUps_.load(); }

  private:
    // Waits until a host has the terminal open, or a wake-up; false on the latter.
    bool AwaitHost();
    // Hands the bytes the host has sent to the unit, in order.
    void TakeHostBytes();

    SimulatedUnit unit_;
    int master_ = -1;
    int wake_ = -1;   // eventfd written by Interrupt
    int watch_ = -1;  // inotify on the terminal's path: a host opening it
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> lost_{0};
    std::atomic<int64_t> wakeUps_{0};
    // Scans made but not yet taken by the terminal (a slow host), bounded.
    std::vector<uint8_t> out_;
    std::size_t outBegin_ = 0;
    std::size_t outEnd_ = 0;
    std::thread thread_;
};

}  // namespace tamix
