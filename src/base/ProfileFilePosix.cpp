// The profile file on POSIX systems: read with a size limit, replaced
// atomically (a whole new file renamed over the old one), kept in the XDG
// configuration folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/IniFile.h"
#include "base/ProfileFile.h"

namespace tamix {
namespace {

// Closes a descriptor on every return path.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, for callers that must see the close fail.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// The bytes of a profile file. A missing file is an empty profile without an
// error; a device, pipe or directory is refused before it is read (reading
// /dev/urandom would never end), a file over the limit after at most one byte
// more than the limit (it may grow while it is read).
}  // namespace

std::string ReadProfileText(const std::string& path, std::string& error) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno != ENOENT) error = std::strerror(errno);
        return {};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = std::strerror(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        return {};
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxProfileBytes) {
        error = ProfileTooLargeReason();
        return {};
    }
    // One byte more than the size, to see a file that grows while it is read.
    std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return {};
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
        if (used == text.size() && used <= kMaxProfileBytes) text.resize(kMaxProfileBytes + 1);
    }
    if (used > kMaxProfileBytes) {
        error = ProfileTooLargeReason();
        return {};
    }
    text.resize(used);
    return text;
}

namespace {

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool ReplaceProfileText(const std::filesystem::path& target, std::string_view content,
                        std::string& error) {
    // An existing profile keeps its mode (a private 0600 file stays private);
    // a new one gets the usual 0666 less the umask.
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    const std::string temp = target.string() + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());  // left by a crashed save of a process with this id
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666));
    if (fd.get() < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = !exists || ::fchmod(fd.get(), st.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd.get(), content);
    ok = ok && ::fsync(fd.get()) == 0;
    if (!ok) error = std::strerror(errno);
    if (!fd.Close() && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        std::remove(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    const Fd dir(::open(target.has_parent_path() ? target.parent_path().c_str() : ".",
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

std::string DefaultProfilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (xdg != nullptr && xdg[0] == '/') {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home != nullptr ? home : ".") + "/.config";
    }
    return dir + "/tamix.INI";
}

}  // namespace tamix
