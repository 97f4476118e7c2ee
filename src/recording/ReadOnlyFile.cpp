// What an open file is on every system: ownership of the handle moves with it.
// Opening and reading are in ReadOnlyFilePosix.cpp and ReadOnlyFileWindows.cpp.
#include "recording/ReadOnlyFile.h"

#include <utility>

namespace tamix {

ReadOnlyFile::~ReadOnlyFile() {
    Release();
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : size_(std::exchange(other.size_, 0)), handle_(std::exchange(other.handle_, -1)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        Release();
        size_ = std::exchange(other.size_, 0);
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

bool ReadOnlyFile::IsOpen() const {
    return handle_ != -1;
}

}  // namespace tamix
