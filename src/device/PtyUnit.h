// A simulated unit served on a pseudo-terminal: the host opens the terminal's
// path as it would a real bridge's tty. Used by tamix-sim and by the tests of
// the Linux driver.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "device/SimulatedUnit.h"

namespace tamix {

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

    // Serves until `stop` is set (on the calling thread).
    void Serve(const std::atomic<bool>& stop);
    // Serves on a thread of its own until Close.
    void Start();
    // Ends serving and closes the terminal ("unplugs" the unit).
    void Close();

    int64_t lostScans() const { return lost_.load(); }

  private:
    SimulatedUnit unit_;
    int master_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> lost_{0};
    std::thread thread_;
};

}  // namespace tamix
