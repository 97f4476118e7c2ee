#include "base/IniFile.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tamix {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

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
    // Worded like the system's reasons, so that callers show all of them alike.
    const std::string tooLarge =
        "Larger than " + std::to_string(kMaxProfileBytes / 1024 / 1024) + " MiB";
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        return {};
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxProfileBytes) {
        error = tooLarge;
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
        error = tooLarge;
        return {};
    }
    text.resize(used);
    return text;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    const std::string text = ReadProfileText(path_, loadError_);
    std::string_view rest = text;
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (rest.starts_with(kByteOrderMark)) {
        byteOrderMark_ = true;
        rest.remove_prefix(kByteOrderMark.size());
    }
    std::string current;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        AddLine(rest.substr(0, end), current);
        if (end == std::string_view::npos) break;
        const bool crlf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
        rest.remove_prefix(end + (crlf ? 2 : 1));
    }
}

void IniFile::AddLine(std::string_view raw, std::string& current) {
    Line line;
    line.text = std::string(raw);
    const std::string_view t = Trim(raw);
    if (t.size() >= 2 && t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close != std::string_view::npos) {
            current = std::string(Trim(t.substr(1, close - 1)));
            line.section = current;
        }
    } else if (!t.empty() && t.front() != ';') {
        const std::size_t eq = t.find('=');
        if (eq != std::string_view::npos) {
            line.section = current;
            line.key = std::string(Trim(t.substr(0, eq)));
            line.value = std::string(Trim(t.substr(eq + 1)));
        }
    }
    lines_.push_back(std::move(line));
}

int IniFile::Find(std::string_view section, std::string_view key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (!l.key.empty() && SameName(l.section, section) && SameName(l.key, key)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const std::string* IniFile::Value(std::string_view section, std::string_view key) const {
    const int i = Find(section, key);
    return i < 0 ? nullptr : &lines_[i].value;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    const std::string* v = Value(section, key);
    return v ? *v : std::string(fallback);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const std::string* v = Value(section, key);
    if (v == nullptr) return fallback;
    std::string_view s = Trim(*v);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    long long value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') break;
        value = std::min<long long>(value * 10 + (c - '0'), 0x7FFFFFFFLL);
    }
    return static_cast<int>(negative ? -value : value);
}

double LeadingNumber(std::string_view text, bool* found) {
    std::string_view s = Trim(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double value = 0;
    const auto r =
        std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone; strtod gives the infinity of an
        // overflow and the zero of an underflow. The text is a plain number
        // here, so only the decimal point depends on the locale: use C's.
        static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
        value = ::strtod_l(std::string(s.data(), r.ptr).c_str(), nullptr, cLocale);
    }
    const bool ok = r.ec == std::errc() || r.ec == std::errc::result_out_of_range;
    if (found != nullptr) *found = ok && r.ptr != s.data();
    if (!ok) return 0.0;
    return value;
}

double IniFile::GetReal(std::string_view section, std::string_view key,
                        std::string_view fallbackText) const {
    const std::string* v = Value(section, key);
    return LeadingNumber(v ? std::string_view(*v) : fallbackText);
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string text = std::string(key) + "=" + std::string(value);
    const int i = Find(section, key);
    if (i >= 0) {
        lines_[i].text = text;
        lines_[i].value = std::string(value);
        return;
    }
    Line line{text, std::string(section), std::string(key), std::string(value)};
    // After the last line of the section, before any blank lines that end it.
    int last = -1;
    for (std::size_t j = 0; j < lines_.size(); ++j) {
        if (SameName(lines_[j].section, section) && !lines_[j].section.empty()) {
            last = static_cast<int>(j);
        } else if (last >= 0 && !lines_[j].section.empty()) {
            break;
        }
    }
    if (last < 0) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back({});
        lines_.push_back({"[" + std::string(section) + "]", std::string(section), {}, {}});
        lines_.push_back(std::move(line));
        return;
    }
    lines_.insert(lines_.begin() + last + 1, std::move(line));
}

void IniFile::SetInt(std::string_view section, std::string_view key, int value) {
    SetString(section, key, std::to_string(value));
}

std::string FormatShortReal(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
    return {buf, r.ptr};
}

void IniFile::SetReal(std::string_view section, std::string_view key, double value) {
    SetString(section, key, FormatShortReal(value));
}

std::string IniFile::Text() const {
    std::string out = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
    for (const Line& l : lines_) {
        out += l.text;
        out += "\r\n";
    }
    return out;
}

namespace {

// The file a profile path finally names: a symbolic link (or a chain of them,
// even one ending nowhere yet) is followed, so that saving replaces the file it
// points to and leaves the link.
std::filesystem::path FinalTarget(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    fs::path target = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec)) || ec) break;
        const fs::path link = fs::read_symlink(target, ec);
        if (ec) break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

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

bool IniFile::Save(std::string& error) const {
    namespace fs = std::filesystem;
    if (!loadError_.empty()) {
        error = "it was not read (" + loadError_ + "), so it is not replaced";
        return false;
    }
    std::error_code ec;
    const fs::path target = FinalTarget(path_);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
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
    ok = ok && WriteAll(fd.get(), Text());
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
