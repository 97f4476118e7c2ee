#include "recording/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tamix {
namespace {

constexpr const char* kInUse = "it is being recorded by another program";

// A file written through a buffer of its own: a record handed to Write is never
// split between two writes to the system, so a file cut off by a crash ends
// after a whole scan or line. Held under an exclusive lock while open, so that
// a second recorder cannot truncate it.
class PosixFile final : public OutputFile {
  public:
    explicit PosixFile(int fd) : fd_(fd), buffer_(std::make_unique<uint8_t[]>(kBufferBytes)) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Write(const void* data, std::size_t size) override {
        if (failed_ || fd_ < 0) return false;
        if (used_ + size > kBufferBytes && !Flush()) return false;
        if (size > kBufferBytes) return WriteAll(data, size);
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }

    bool Flush() override {
        if (failed_ || fd_ < 0) return false;
        const std::size_t n = used_;
        used_ = 0;
        return WriteAll(buffer_.get(), n);
    }

    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        if (fd_ < 0) return false;
        // After a failure the buffer holds bytes that can never be written.
        if (failed_) used_ = 0;
        if (!failed_) Flush();
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Fail();
            }
            p += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return !failed_;
    }

    uint64_t DurableSize() override {
        if (fd_ < 0) return 0;
        if (!failed_) Flush();
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return 0;
        return static_cast<uint64_t>(st.st_size);
    }

    bool Close() override {
        if (fd_ < 0) return !failed_;
        if (!failed_) Flush();
        if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && !failed_) Fail();
        if (::close(fd_) != 0 && !failed_) Fail();
        fd_ = -1;
        return !failed_;
    }

    std::string Error() const override { return error_; }

  private:
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

    bool WriteAll(const void* data, std::size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Fail();
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Fail() {
        const int err = errno != 0 ? errno : EIO;
        if (!failed_) error_ = std::strerror(err);
        failed_ = true;
        return false;
    }

    int fd_;
    std::unique_ptr<uint8_t[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    std::string error_;
};

// The whole file, as a lock record of the open file description (OFD) kind.
struct flock WholeFile(short type) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    return whole;
}

// Opens `path` for writing without truncating it and takes its lock; -1 with
// `error` set when either fails.
int OpenLocked(const std::string& path, int flags, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? kInUse : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    // The flock above keeps a second recorder out, but no one can look at it
    // without trying to take it. A record lock on the whole file as well lets
    // a reader ask whether the file is being recorded without taking anything
    // (HeldByRecorder). It only announces: where the file system refuses it,
    // the run goes on under the flock alone.
    struct flock whole = WholeFile(F_WRLCK);
    static_cast<void>(::fcntl(fd, F_OFD_SETLK, &whole));
    return fd;
}

}  // namespace

bool FileOpener::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool FileOpener::CanCreate(const std::string& path, std::string& error) {
    // Tried without truncation; a file made only for the test is removed again.
    int fd = OpenLocked(path, 0, error);
    bool created = false;
    if (fd < 0 && error == std::strerror(ENOENT)) {
        fd = OpenLocked(path, O_CREAT | O_EXCL, error);
        created = fd >= 0;
    }
    if (fd < 0) return false;
    if (created) ::unlink(path.c_str());
    ::close(fd);
    return true;
}

std::unique_ptr<OutputFile> DiskFileOpener::Create(const std::string& path, std::string& error) {
    // Truncated only once the lock is held: a file another run is recording
    // keeps every byte.
    const int fd = OpenLocked(path, O_CREAT, error);
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, 0) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

bool HeldByRecorder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Asks which lock would stand in the way of reading, without taking one.
    struct flock probe = WholeFile(F_RDLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

FileOpener& DefaultFileOpener() {
    static DiskFileOpener opener;
    return opener;
}

}  // namespace tamix
