#include "recording/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tamix {
namespace {

const std::string kInUse(kBeingRecordedReason);

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
        // An empty write may come with no data at all, which memcpy must not see.
        if (size == 0) return true;
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

    bool Truncate(uint64_t size) override {
        if (fd_ < 0) return false;
        if (!failed_) Flush();
        used_ = 0;
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail();
        return true;
    }

    bool Close() override {
        if (fd_ < 0) return !failed_;
        Sync();
        if (::close(fd_) != 0 && !failed_) Fail();
        fd_ = -1;
        return !failed_;
    }

    std::string Error() const override { return error_; }

    // Flushes and hands the bytes to the disk, keeping the file open.
    bool Sync() {
        if (fd_ < 0) return !failed_;
        if (!failed_) Flush();
        if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && !failed_) Fail();
        return !failed_;
    }
    // Closes without handing anything more to the disk: for a file that is dropped.
    void Abandon() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int Descriptor() const { return fd_; }
    bool Failed() const { return failed_; }

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

// Takes a recorder's lock on the open file `fd`; false with `error` set.
bool LockAsRecorder(int fd, std::string& error) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? kInUse : std::strerror(errno);
        return false;
    }
    // The flock above keeps a second recorder out, but no one can look at it
    // without trying to take it. A record lock on the whole file as well lets
    // a reader ask whether the file is being recorded without taking anything
    // (HeldByRecorder). It only announces: where the file system refuses it,
    // the run goes on under the flock alone.
    struct flock whole = WholeFile(F_WRLCK);
    static_cast<void>(::fcntl(fd, F_OFD_SETLK, &whole));
    return true;
}

// Opens `path` for writing without truncating it and takes its lock; -1 with
// `error` set when either fails. Never waits: a pipe without a reader fails.
int OpenLocked(const std::string& path, int flags, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (!LockAsRecorder(fd, error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Why a recording cannot go to `st`'s file, or empty when it is a regular file.
std::string NotRegular(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return {};
    return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : std::string(kNotRegularReason);
}

std::string ReasonOf(int err) {
    return std::strerror(err != 0 ? err : EIO);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside `target`, hidden from plain listings, that is unlikely to be
// taken; whoever creates it does so exclusively and tries another when it is.
std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char tag[64];
    std::snprintf(tag, sizeof tag, ".%ld.%u.%llx.tmp", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned long long>(now));
    return folder + "." + base + tag;
}

// Makes a rename or link in `folder` durable, as far as the system allows.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    static_cast<void>(::fsync(fd));
    ::close(fd);
}

// The file a replacement takes the place of: through symbolic links, so that
// a link to a file keeps pointing at its (new) contents.
std::string ResolvedTarget(const std::string& target) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(target, ec)) return target;
    const std::filesystem::path resolved = std::filesystem::canonical(target, ec);
    return ec ? target : resolved.string();
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the target's lock, the one a recorder takes: `guard` becomes an open
// file description of the target held under flock, or -1 (and the answer
// true) when there is no target yet. A recording that put its new file in the
// target's place between the open and the lock has left this description on
// the file it replaced, so the name is opened again.
bool LockTarget(const std::string& target, int& guard, std::string& error) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        guard = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (guard < 0) {
            if (errno == ENOENT) return true;
            error = ReasonOf(errno);
            return false;
        }
        if (::flock(guard, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? kInUse : ReasonOf(errno);
            ::close(guard);
            guard = -1;
            return false;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(guard, &held) == 0 && ::stat(target.c_str(), &named) == 0 &&
            SameFile(held, named)) {
            return true;
        }
        ::close(guard);
        guard = -1;
    }
    error = kInUse;
    return false;
}

// A new file in `target`'s folder: unnamed (O_TMPFILE) where the file system
// has them, so that a process killed while writing leaves nothing, else under
// a hidden temporary name, then in `temporary`. -1 with `error` set.
int OpenBeside(const std::string& target, std::string& temporary, std::string& error) {
    temporary.clear();
    int fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // The unnamed file is named later through /proc; without it, a name now.
    if (fd >= 0 && ::access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) != 0) {
        ::close(fd);
        fd = -1;
        errno = EOPNOTSUPP;
    }
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temporary = TemporaryName(target);
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
    }
    if (fd < 0) {
        error = ReasonOf(errno);
        temporary.clear();
    }
    return fd;
}

// Written through a descriptor of its own: an unnamed file in the target's
// folder (O_TMPFILE) where the file system has them, so that a process killed
// while writing leaves nothing; else a hidden temporary file beside the target.
class PosixReplacement final : public ReplacementFile {
  public:
    PosixReplacement(int fd, std::string target, std::string temporary, int guard)
        : file_(fd), target_(std::move(target)), temporary_(std::move(temporary)), guard_(guard) {}
    ~PosixReplacement() override {
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        if (guard_ >= 0) ::close(guard_);
    }
    PosixReplacement(const PosixReplacement&) = delete;
    PosixReplacement& operator=(const PosixReplacement&) = delete;

    bool Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_.PatchAt(offset, data, size);
    }
    bool Flush() override { return file_.Flush(); }
    uint64_t DurableSize() override { return file_.DurableSize(); }
    bool Truncate(uint64_t size) override { return file_.Truncate(size); }
    bool Close() override {
        closed_ = true;
        return file_.Sync();
    }
    std::string Error() const override { return error_.empty() ? file_.Error() : error_; }

    bool Commit() override {
        if (!closed_ || file_.Failed() || !error_.empty()) {
            if (error_.empty() && file_.Error().empty()) error_ = "the file was not completed";
            return false;
        }
        const bool placed = Place();
        if (!file_.Close() && placed) return false;
        if (placed) SyncFolder(FolderOf(target_));
        return placed;
    }

    std::string WritablePath() const override {
        return temporary_.empty() ? DescriptorPath() : temporary_;
    }

  private:
    std::string DescriptorPath() const {
        return "/proc/self/fd/" + std::to_string(file_.Descriptor());
    }

    bool Fail(int err) {
        error_ = ReasonOf(err);
        return false;
    }

    // Gives the unnamed file a name: the target's where there was no target
    // and still is none, else a temporary one for the rename below.
    bool NameUnnamed(bool& done) {
        const std::string fdPath = DescriptorPath();
        if (guard_ < 0) {
            if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                done = true;
                return true;
            }
            if (errno != EEXIST) return Fail(errno);
            // Created meanwhile: it may be a recording that has just begun.
            if (!LockTarget(target_, guard_, error_)) return false;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = TemporaryName(target_);
            if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                temporary_ = name;
                return true;
            }
            if (errno != EEXIST) return Fail(errno);
        }
        return Fail(EEXIST);
    }

    bool Place() {
        bool done = false;
        if (temporary_.empty()) {
            if (!NameUnnamed(done)) return false;
            if (done) return true;
        } else if (guard_ < 0) {
            // No target when the export began: take the name only while it is free.
            if (::link(temporary_.c_str(), target_.c_str()) == 0) {
                ::unlink(temporary_.c_str());
                temporary_.clear();
                return true;
            }
            if (errno == EEXIST && !LockTarget(target_, guard_, error_)) return false;
            // Where the file system has no hard links, the rename below is the way.
        }
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(errno);
        temporary_.clear();
        return true;
    }

    PosixFile file_;
    std::string target_;
    std::string temporary_;  // empty while the file has no name, and once it is in place
    int guard_;
    bool closed_ = false;
    std::string error_;
};

// A target that is no regular file (a device, a pipe) is written where it is:
// renaming over it would replace the device itself.
class InPlaceReplacement final : public ReplacementFile {
  public:
    InPlaceReplacement(int fd, std::string target) : file_(fd), target_(std::move(target)) {}

    bool Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_.PatchAt(offset, data, size);
    }
    bool Flush() override { return file_.Flush(); }
    uint64_t DurableSize() override { return file_.DurableSize(); }
    bool Truncate(uint64_t size) override { return file_.Truncate(size); }
    bool Close() override { return file_.Close(); }
    std::string Error() const override { return file_.Error(); }
    bool Commit() override { return file_.Close(); }
    std::string WritablePath() const override { return target_; }

  private:
    PosixFile file_;
    std::string target_;
};

// A recording's file: see RecordingFile. `guard` holds the recorder's lock on
// the target being replaced until the new file has its place.
class PosixRecording final : public RecordingFile {
  public:
    PosixRecording(int fd, std::string target, std::string temporary, int guard, bool created)
        : file_(fd),
          target_(std::move(target)),
          temporary_(std::move(temporary)),
          guard_(guard),
          placed_(created),
          created_(created) {}
    ~PosixRecording() override {
        if (!placed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
        if (guard_ >= 0) ::close(guard_);
    }
    PosixRecording(const PosixRecording&) = delete;
    PosixRecording& operator=(const PosixRecording&) = delete;

    bool Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_.PatchAt(offset, data, size);
    }
    bool Flush() override { return file_.Flush(); }
    bool Truncate(uint64_t size) override { return file_.Truncate(size); }
    uint64_t DurableSize() override { return file_.DurableSize(); }
    bool Close() override {
        const bool closed = file_.Close();
        if (renamed_) SyncFolder(FolderOf(target_));
        return closed;
    }
    std::string Error() const override { return error_.empty() ? file_.Error() : error_; }

    bool TakePlace() override {
        if (placed_) return true;
        if (file_.Failed()) return false;
        if (temporary_.empty() && !NameUnnamed()) return false;
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            const int err = errno;
            ::unlink(temporary_.c_str());
            temporary_.clear();
            return Fail(err);
        }
        temporary_.clear();
        placed_ = true;
        renamed_ = true;
        // The file it replaced has no name left to guard.
        ::close(guard_);
        guard_ = -1;
        return true;
    }

    bool Placed() const override { return placed_; }

    void Discard() override {
        if (created_) {
            // Only the file this run created, under the lock it still holds.
            struct stat mine {};
            struct stat named {};
            if (::fstat(file_.Descriptor(), &mine) == 0 && ::stat(target_.c_str(), &named) == 0 &&
                SameFile(mine, named)) {
                ::unlink(target_.c_str());
            }
        } else if (!placed_ && !temporary_.empty()) {
            ::unlink(temporary_.c_str());
            temporary_.clear();
        }
        file_.Abandon();
        if (guard_ >= 0) ::close(guard_);
        guard_ = -1;
    }

  private:
    bool Fail(int err) {
        error_ = ReasonOf(err);
        return false;
    }

    // A rename needs a name to move: the unnamed file gets a hidden one.
    bool NameUnnamed() {
        const std::string fdPath = "/proc/self/fd/" + std::to_string(file_.Descriptor());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = TemporaryName(target_);
            if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                temporary_ = name;
                return true;
            }
            if (errno != EEXIST) return Fail(errno);
        }
        return Fail(EEXIST);
    }

    PosixFile file_;
    std::string target_;
    std::string temporary_;  // the new file's name while it has one beside the target
    int guard_;
    bool placed_;
    bool created_;  // the target did not exist: this file was created under its name
    bool renamed_ = false;
    std::string error_;
};

}  // namespace

std::unique_ptr<RecordingFile> FileOpener::CreateRecording(const std::string& path,
                                                           std::string& error) {
    const std::string target = ResolvedTarget(path);
    // Each turn finds the target there or not; one that comes or goes meanwhile
    // is looked at again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        struct stat st {};
        if (::stat(target.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                error = ReasonOf(errno);
                return nullptr;
            }
            const int fd = OpenLocked(target, O_CREAT | O_EXCL, error);
            if (fd >= 0) return std::make_unique<PosixRecording>(fd, target, "", -1, true);
            if (error == std::strerror(EEXIST)) continue;
            return nullptr;
        }
        error = NotRegular(st);
        if (!error.empty()) return nullptr;
        int guard = -1;
        if (!LockTarget(target, guard, error)) return nullptr;
        if (guard < 0) continue;
        // Readers see the target as being recorded from now on, as it is.
        struct flock whole = WholeFile(F_WRLCK);
        static_cast<void>(::fcntl(guard, F_OFD_SETLK, &whole));
        std::string temporary;
        const int fd = OpenBeside(target, temporary, error);
        if (fd < 0 || !LockAsRecorder(fd, error)) {
            if (fd >= 0) ::close(fd);
            if (!temporary.empty()) ::unlink(temporary.c_str());
            ::close(guard);
            return nullptr;
        }
        // The recording keeps the permissions of the file it replaces.
        static_cast<void>(::fchmod(fd, st.st_mode & 07777));
        return std::make_unique<PosixRecording>(fd, target, temporary, guard, false);
    }
    error = ReasonOf(EAGAIN);
    return nullptr;
}

bool FileOpener::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool FileOpener::CanCreate(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        error = NotRegular(st);
        if (!error.empty()) return false;
        // An existing file is replaced by a new one beside it.
        if (::access(FolderOf(ResolvedTarget(path)).c_str(), W_OK | X_OK) != 0) {
            error = std::strerror(errno);
            return false;
        }
    }
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

std::unique_ptr<ReplacementFile> FileOpener::CreateReplacement(const std::string& path,
                                                               std::string& error) {
    const std::string target = ResolvedTarget(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        error = ReasonOf(EISDIR);
        return nullptr;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            error = ReasonOf(errno);
            return nullptr;
        }
        return std::make_unique<InPlaceReplacement>(fd, target);
    }
    int guard = -1;
    if (!LockTarget(target, guard, error)) return nullptr;
    std::string temporary;
    const int fd = OpenBeside(target, temporary, error);
    if (fd < 0) {
        if (guard >= 0) ::close(guard);
        return nullptr;
    }
    // A replaced file keeps its permissions.
    if (exists) static_cast<void>(::fchmod(fd, st.st_mode & 07777));
    return std::make_unique<PosixReplacement>(fd, target, temporary, guard);
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
