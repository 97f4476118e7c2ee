// The read-only file mapping on POSIX systems: mmap of the whole file, and the
// descriptor kept open for positional reads.
#include "recording/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tamix {

void MappedFile::Release() {
    if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
    if (descriptor_ >= 0) ::close(descriptor_);
    data_ = nullptr;
    size_ = 0;
    descriptor_ = -1;
}

bool MappedFile::Open(const std::string& path, std::string& error) {
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
    if (st.st_size > 0) {
        void* p =
            ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        data_ = static_cast<const uint8_t*>(p);
        size_ = static_cast<std::size_t>(st.st_size);
    }
    descriptor_ = fd;
    return true;
}

bool MappedFile::ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (offset > size_ || out.size() > size_ - offset) {
        error = "a read beyond the end of the file";
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(descriptor_, out.data() + done, out.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // The file shrank since it was opened.
            error = got < 0 ? std::strerror(errno) : "the file ends early";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void MappedFile::AdviseSequential() const {
    if (data_ != nullptr) ::madvise(const_cast<uint8_t*>(data_), size_, MADV_SEQUENTIAL);
}

}  // namespace tamix
