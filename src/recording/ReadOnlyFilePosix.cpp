// Reading a recording on POSIX systems: positional reads on one descriptor,
// which threads may share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "recording/ReadOnlyFile.h"

namespace tamix {

void ReadOnlyFile::Release() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    size_ = 0;
}

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
    Release();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return false;
    }
    handle_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadOnlyFile::ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (offset > size_ || out.size() > size_ - offset) {
        error = "a read beyond the end of the file";
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(static_cast<int>(handle_), out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (got == 0) {
            // The file was cut below the size it had when it was opened.
            error = kFileChangedReason;
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool ReadOnlyFile::Grow(std::string& error) {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size < size_) {
        error = kFileChangedReason;
        return false;
    }
    size_ = size;
    return true;
}

void ReadOnlyFile::AdviseSequential() const {
    if (handle_ >= 0) ::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace tamix
