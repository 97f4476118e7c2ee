// The slow work on a split recording's files (creating the next one ahead,
// completing the one before, which syncs it to the disk) on a thread of its
// own, so that the acquisition worker never waits for the disk at a switch.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tamix {

class FileChores {
  public:
    FileChores() = default;
    FileChores(const FileChores&) = delete;
    FileChores& operator=(const FileChores&) = delete;
    // Does what was posted, then ends the thread.
    ~FileChores();

    // Runs `chore` on the chores' thread, started on the first call, after
    // those posted before it.
    void Post(std::function<void()> chore);
    // Until every chore posted so far is done.
    void Drain();

  private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> chores_;
    bool busy_ = false;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace tamix
