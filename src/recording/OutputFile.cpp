#include "recording/OutputFile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tamix {
namespace {

class StdioFile final : public OutputFile {
  public:
    explicit StdioFile(std::FILE* f) : file_(f) {
        // A large buffer keeps the per-scan writes cheap.
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
    }
    ~StdioFile() override {
        if (file_ != nullptr) std::fclose(file_);
    }

    bool Write(const void* data, std::size_t size) override {
        if (failed_ || file_ == nullptr) return false;
        if (std::fwrite(data, 1, size, file_) != size) return Fail();
        return true;
    }

    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        if (file_ == nullptr) return false;
        if (!failed_ && std::fflush(file_) != 0) Fail();
        // After a failure the buffer holds bytes that can never be written.
        if (failed_) __fpurge(file_);
        const auto* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::pwrite(fileno(file_), p, size, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Fail();
            }
            p += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    bool Flush() override {
        if (file_ == nullptr || failed_) return false;
        return std::fflush(file_) == 0 || Fail();
    }

    uint64_t DurableSize() override {
        if (file_ == nullptr) return 0;
        if (!failed_ && std::fflush(file_) != 0) Fail();
        struct stat st {};
        if (::fstat(fileno(file_), &st) != 0) return 0;
        return static_cast<uint64_t>(st.st_size);
    }

    bool Close() override {
        if (file_ == nullptr) return !failed_;
        if (failed_) __fpurge(file_);
        if (std::fflush(file_) != 0 && !failed_) Fail();
        if (::fsync(fileno(file_)) != 0 && errno != EINVAL && errno != EROFS && !failed_) Fail();
        if (std::fclose(file_) != 0 && !failed_) Fail();
        file_ = nullptr;
        return !failed_;
    }

    std::string Error() const override { return error_; }

  private:
    bool Fail() {
        const int err = errno != 0 ? errno : EIO;
        if (!failed_) error_ = std::strerror(err);
        failed_ = true;
        return false;
    }

    std::FILE* file_;
    bool failed_ = false;
    std::string error_;
};

}  // namespace

bool FileOpener::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool FileOpener::CanCreate(const std::string& path, std::string& error) {
    // Opened without truncation; a file made only for the test is removed again.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (created) ::unlink(path.c_str());
    return true;
}

std::unique_ptr<OutputFile> StdioFileOpener::Create(const std::string& path, std::string& error) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return nullptr;
    }
    return std::make_unique<StdioFile>(f);
}

FileOpener& DefaultFileOpener() {
    static StdioFileOpener opener;
    return opener;
}

}  // namespace tamix
