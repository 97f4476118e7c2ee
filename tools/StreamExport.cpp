#include "StreamExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "StandardOutput.h"

#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // Windows: no descriptors are inherited by exec there
#endif
#ifndef O_BINARY
#define O_BINARY 0  // POSIX: every file is binary; Windows would translate line ends
#endif

namespace tamix::cli {
namespace {

namespace fs = std::filesystem;

// Writes all of `data` to `fd`; false with errno set.
bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const auto n =
            ::write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1 << 20)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The stream as an output file: appends only, through a buffer of its own.
class StreamFile final : public OutputFile {
  public:
    StreamFile(int fd, bool& failed) : fd_(fd), failed_(failed) {}

    bool Write(const void* data, std::size_t size) override {
        if (failed_) return false;
        if (buffer_.size() + size > kBufferBytes && !Flush()) return false;
        if (size > kBufferBytes) return Put(static_cast<const uint8_t*>(data), size);
        const auto* p = static_cast<const uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + size);
        return true;
    }
    bool PatchAt(uint64_t, const void*, std::size_t) override {
        if (!failed_) error_ = "a stream cannot be rewound to complete a header";
        failed_ = true;
        return false;
    }
    bool Flush() override {
        if (failed_) return false;
        const bool ok = Put(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }
    uint64_t DurableSize() override { return written_; }
    bool Close() override { return Flush(); }
    std::string Error() const override { return error_; }

  private:
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

    bool Put(const uint8_t* data, std::size_t size) {
        if (!WriteAll(fd_, data, size)) {
            error_ = std::strerror(errno);
            failed_ = true;
            return false;
        }
        written_ += size;
        return true;
    }

    int fd_;
    bool& failed_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
    std::string error_;
};

// Takes and drops what would go beside the stream.
class DiscardedFile final : public OutputFile {
  public:
    bool Write(const void*, std::size_t) override { return true; }
    bool PatchAt(uint64_t, const void*, std::size_t) override { return true; }
    bool Flush() override { return true; }
    uint64_t DurableSize() override { return 0; }
    bool Close() override { return true; }
    std::string Error() const override { return {}; }
};

// A stream is written as it comes: there is no file to put in place, so its
// "replacement" is the stream itself and Commit has nothing left to do.
class StreamReplacement final : public ReplacementFile {
  public:
    explicit StreamReplacement(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}

    bool Write(const void* data, std::size_t size) override { return file_->Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_->PatchAt(offset, data, size);
    }
    bool Flush() override { return file_->Flush(); }
    uint64_t DurableSize() override { return file_->DurableSize(); }
    bool Close() override { return file_->Close(); }
    std::string Error() const override { return file_->Error(); }
    bool Commit() override { return true; }
    std::string WritablePath() const override { return {}; }

  private:
    std::unique_ptr<OutputFile> file_;
};

// The stream for the first file an export creates (its data: every exporter
// writes them before any companion, whatever name it gives them on the way),
// a discarded file for each later one.
class StreamOpener final : public FileOpener {
  public:
    explicit StreamOpener(int fd) : fd_(fd) {}

    std::unique_ptr<OutputFile> Create(const std::string&, std::string&) override {
        if (used_) {
            companions_ = true;
            return std::make_unique<DiscardedFile>();
        }
        used_ = true;
        return std::make_unique<StreamFile>(fd_, failed_);
    }
    std::unique_ptr<ReplacementFile> CreateReplacement(const std::string& target,
                                                       std::string& error) override {
        return std::make_unique<StreamReplacement>(Create(target, error));
    }
    // The names an exporter gives are no files: nothing to look at on disk.
    bool Exists(const std::string&) override { return false; }
    bool CanCreate(const std::string&, std::string&) override { return true; }

    bool failed() const { return failed_; }
    bool companions() const { return companions_; }

  private:
    int fd_;
    bool used_ = false;
    bool failed_ = false;
    bool companions_ = false;
};

// The stream to write to: standard output, or the named pipe or device opened
// for writing as it is (never created or truncated).
class Target {
  public:
    explicit Target(const std::string& out) {
        if (out == "-") {
            name_ = std::string(kStandardOutput);
            fd_ = STDOUT_FILENO;
            return;
        }
        name_ = out;
        fd_ = ::open(out.c_str(), O_WRONLY | O_BINARY | O_CLOEXEC);
        if (fd_ < 0) error_ = out + ": " + std::strerror(errno);
        own_ = fd_ >= 0;
    }
    ~Target() {
        if (own_) ::close(fd_);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // Closes a named stream; false with `error` when what was written did not arrive.
    bool Close(std::string& error) {
        if (!own_) return true;
        own_ = false;
        if (::close(fd_) == 0) return true;
        error = name_ + ": " + std::strerror(errno);
        return false;
    }

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    const std::string& error() const { return error_; }
    bool isStandardOutput() const { return !own_ && fd_ == STDOUT_FILENO; }

  private:
    std::string name_;
    std::string error_;
    int fd_ = -1;
    bool own_ = false;
};

// A file of our own in the temporary folder, removed with everything in it.
class SpoolFile {
  public:
    explicit SpoolFile(const std::string& extension) {
        std::error_code ec;
        const fs::path folder = fs::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate =
                folder / ("tamix-file-" + std::to_string(random()) + "." + extension);
            const int fd = ::open(candidate.string().c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
                path_ = candidate.string();
            } else if (errno != EEXIST) {
                error_ = candidate.string() + ": " + std::strerror(errno);
                return;
            }
        }
        if (path_.empty() && error_.empty()) error_ = "no temporary file could be made";
    }
    ~SpoolFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    std::string path_;
    std::string error_;
};

// Messages name the stream, not the temporary file behind it.
std::string Renamed(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Copies the file at `path` to the target: 0 done, 1 the file could not be read,
// 2 the target could not be written.
int Copy(const std::string& path, int fd, std::string& reason) {
    const int in = ::open(path.c_str(), O_RDONLY | O_BINARY | O_CLOEXEC);
    if (in < 0) {
        reason = std::strerror(errno);
        return 1;
    }
    std::vector<uint8_t> buffer(std::size_t{1} << 20);
    int result = 0;
    for (;;) {
        const auto n = ::read(in, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            reason = std::strerror(errno);
            result = 1;
            break;
        }
        if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) {
            reason = std::strerror(errno);
            result = 2;
            break;
        }
    }
    ::close(in);
    return result;
}

}  // namespace

bool IsStreamTarget(const std::string& out) {
    if (out == "-") return true;
    std::error_code ec;
    const fs::file_status status = fs::status(out, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status)) {
        return true;
    }
    // /dev/stdout or /dev/fd/1 lead to whatever standard output is, a regular
    // file too; anything beside them would land among the devices. A folder
    // under /dev such as /dev/shm holds ordinary files.
    const fs::path folder = fs::weakly_canonical(fs::absolute(out, ec).parent_path(), ec);
    const std::string name = folder.generic_string();
    return name == "/dev" || name.starts_with("/proc/");
}

StreamOutcome ExportToStream(const std::string& out, bool spool, const std::string& extension,
                             const ExportRun& run, StreamReport& report) {
    Target target(out);
    if (target.fd() < 0) {
        report.error = target.error();
        return StreamOutcome::Failed;
    }
    const StreamOutcome writeFailure =
        target.isStandardOutput() ? StreamOutcome::OutputFailed : StreamOutcome::Failed;
    if (!spool) {
        StreamOpener opener(target.fd());
        const bool ok = run(opener, target.name(), report.error);
        report.companionsLeftOut = opener.companions();
        if (!ok) return opener.failed() ? writeFailure : StreamOutcome::Failed;
    } else {
        const SpoolFile file(extension);
        if (file.path().empty()) {
            report.error = target.name() + ": " + file.error();
            return StreamOutcome::Failed;
        }
        if (!run(DefaultFileOpener(), file.path(), report.error)) {
            report.error = Renamed(report.error, file.path(), target.name());
            return StreamOutcome::Failed;
        }
        std::string reason;
        switch (Copy(file.path(), target.fd(), reason)) {
            case 0:
                break;
            case 1:
                report.error = target.name() + ": its temporary file could not be read: " + reason;
                return StreamOutcome::Failed;
            default:
                report.error = target.name() + ": " + reason;
                return writeFailure;
        }
    }
    return target.Close(report.error) ? StreamOutcome::Done : writeFailure;
}

}  // namespace tamix::cli
