// What a mapped file is on every system: ownership of the view moves with it.
// The mapping itself is in MappedFilePosix.cpp and MappedFileWindows.cpp.
#include "recording/MappedFile.h"

#include <utility>

namespace tamix {

MappedFile::~MappedFile() {
    Release();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      descriptor_(std::exchange(other.descriptor_, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

}  // namespace tamix
