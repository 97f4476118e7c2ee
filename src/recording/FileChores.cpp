#include "recording/FileChores.h"

#include <utility>

namespace tamix {

FileChores::~FileChores() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FileChores::Post(std::function<void()> chore) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        chores_.push_back(std::move(chore));
        if (!thread_.joinable()) thread_ = std::thread(&FileChores::Run, this);
    }
    wake_.notify_all();
}

void FileChores::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return chores_.empty() && !busy_; });
}

void FileChores::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !chores_.empty(); });
        if (chores_.empty()) return;
        std::function<void()> chore = std::move(chores_.front());
        chores_.pop_front();
        busy_ = true;
        lock.unlock();
        chore();
        lock.lock();
        busy_ = false;
        idle_.notify_all();
    }
}

}  // namespace tamix
