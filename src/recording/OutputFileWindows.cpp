// The output-file seam on Windows: the same buffered file as elsewhere, locked
// by its share mode (other programs may read it while it is recorded, never
// write it), every write placed at an explicit offset.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/WindowsText.h"
#include "recording/OutputFile.h"

namespace tamix {
namespace {

const std::string kInUse(kBeingRecordedReason);

// A record handed to Write is never split between two writes to the system, so
// a file cut off by a crash ends after a whole scan or line.
class WindowsFile final : public OutputFile {
  public:
    explicit WindowsFile(HANDLE h) : h_(h), buffer_(std::make_unique<uint8_t[]>(kBufferBytes)) {}
    ~WindowsFile() override {
        if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
    }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    bool Write(const void* data, std::size_t size) override {
        if (failed_ || h_ == INVALID_HANDLE_VALUE) return false;
        if (used_ + size > kBufferBytes && !Flush()) return false;
        if (size > kBufferBytes) return Append(data, size);
        // An empty write may come with no data at all, which memcpy must not see.
        if (size == 0) return true;
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }

    bool Flush() override {
        if (failed_ || h_ == INVALID_HANDLE_VALUE) return false;
        const std::size_t n = used_;
        used_ = 0;
        return Append(buffer_.get(), n);
    }

    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        if (h_ == INVALID_HANDLE_VALUE) return false;
        // After a failure the buffer holds bytes that can never be written.
        if (failed_) used_ = 0;
        if (!failed_) Flush();
        if (!WriteAt(offset, data, size)) return false;
        return !failed_;
    }

    uint64_t DurableSize() override {
        if (h_ == INVALID_HANDLE_VALUE) return 0;
        if (!failed_) Flush();
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(h_, &size)) return 0;
        return static_cast<uint64_t>(size.QuadPart);
    }

    bool Truncate(uint64_t size) override {
        if (h_ == INVALID_HANDLE_VALUE) return false;
        if (!failed_) Flush();
        used_ = 0;
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFileInformationByHandle(h_, FileEndOfFileInfo, &end, sizeof end)) return Fail();
        end_ = size;
        return true;
    }

    bool Close() override {
        if (h_ == INVALID_HANDLE_VALUE) return !failed_;
        if (!failed_) Flush();
        if (!::FlushFileBuffers(h_) && !failed_) Fail();
        if (!::CloseHandle(h_) && !failed_) Fail();
        h_ = INVALID_HANDLE_VALUE;
        return !failed_;
    }

    std::string Error() const override { return error_; }

  private:
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

    bool Append(const void* data, std::size_t size) {
        if (!WriteAt(end_, data, size)) return false;
        end_ += size;
        return true;
    }

    // A positioned write also moves the handle's file pointer, so appends carry
    // their offset too rather than trusting the pointer after a header patch.
    bool WriteAt(uint64_t offset, const void* data, std::size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD n = 0;
            if (!::WriteFile(h_, p, chunk, &n, &at)) return Fail();
            if (n == 0) {
                ::SetLastError(ERROR_WRITE_FAULT);
                return Fail();
            }
            p += n;
            size -= n;
            offset += n;
        }
        return true;
    }

    bool Fail() {
        const DWORD err = ::GetLastError();
        if (!failed_) error_ = WindowsErrorText(err != 0 ? err : ERROR_WRITE_FAULT);
        failed_ = true;
        return false;
    }

    HANDLE h_;
    std::unique_ptr<uint8_t[]> buffer_;
    std::size_t used_ = 0;
    uint64_t end_ = 0;
    bool failed_ = false;
    std::string error_;
};

// Opens `path` for writing, without truncating it, denying other writers; the
// denial is the lock. INVALID_HANDLE_VALUE with `error` and `code` set on failure.
HANDLE OpenLocked(const std::string& path, DWORD disposition, std::string& error, DWORD& code) {
    const HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = ::GetLastError();
        error = code == ERROR_SHARING_VIOLATION ? kInUse : WindowsErrorText(code);
    }
    return h;
}

// A name beside `target` that is unlikely to be taken; it is created
// exclusively, and another is tried when it is.
std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    char tag[48];
    std::snprintf(tag, sizeof tag, ".%lu.%u.%llx.tmp", ::GetCurrentProcessId(),
                  counter.fetch_add(1), static_cast<unsigned long long>(::GetTickCount64()));
    return folder + "." + base + tag;
}

// Takes the target's lock as a recorder would meet it: `guard` becomes a
// handle that shares no writing, so that a recorder's open fails while it is
// there, and that is refused while a recorder has the file; or
// INVALID_HANDLE_VALUE (and the answer true) when there is no target yet.
// Reading only, so that HeldByRecorder does not take it for a recorder.
bool LockTarget(const std::string& target, HANDLE& guard, std::string& error) {
    guard = ::CreateFileW(WideFromUtf8(target).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (guard != INVALID_HANDLE_VALUE) return true;
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    error = code == ERROR_SHARING_VIOLATION ? kInUse : WindowsErrorText(code);
    return false;
}

// Whether `path` names something a recording cannot replace: a folder, or a
// device or pipe (NUL, CON, \\.\pipe\...); the reason then, else empty.
std::string NotRegular(const std::string& path) {
    const std::wstring wide = WideFromUtf8(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return WindowsErrorText(ERROR_DIRECTORY);
    const HANDLE h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    const DWORD type = ::GetFileType(h);
    ::CloseHandle(h);
    return type == FILE_TYPE_DISK ? std::string() : std::string(kNotRegularReason);
}

// A recording's file (see RecordingFile). Beside an existing target it lies
// under a hidden temporary name, opened with the right to be renamed, while
// `guard` keeps other writers off the target; TakePlace renames the open file
// over the target, which Windows allows once no handle of the target is left.
class WindowsRecording final : public RecordingFile {
  public:
    WindowsRecording(HANDLE h, std::string target, std::string temporary, HANDLE guard)
        : h_(h),
          file_(std::make_unique<WindowsFile>(h)),
          target_(std::move(target)),
          temporary_(std::move(temporary)),
          guard_(guard),
          placed_(temporary_.empty()),
          created_(temporary_.empty()) {}
    ~WindowsRecording() override {
        file_.reset();
        if (!placed_ && !temporary_.empty()) ::DeleteFileW(WideFromUtf8(temporary_).c_str());
        if (guard_ != INVALID_HANDLE_VALUE) ::CloseHandle(guard_);
    }
    WindowsRecording(const WindowsRecording&) = delete;
    WindowsRecording& operator=(const WindowsRecording&) = delete;

    bool Write(const void* data, std::size_t size) override { return file_->Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_->PatchAt(offset, data, size);
    }
    bool Flush() override { return file_->Flush(); }
    bool Truncate(uint64_t size) override { return file_->Truncate(size); }
    uint64_t DurableSize() override { return file_->DurableSize(); }
    bool Close() override { return file_->Close(); }
    std::string Error() const override { return error_.empty() ? file_->Error() : error_; }

    bool TakePlace() override {
        if (placed_) return true;
        const std::wstring to = WideFromUtf8(target_);
        std::vector<uint8_t> info(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, to.c_str(), to.size() * sizeof(wchar_t));
        // The target must have no open handle left, the guard's included.
        ::CloseHandle(guard_);
        guard_ = INVALID_HANDLE_VALUE;
        if (!::SetFileInformationByHandle(h_, FileRenameInfo, rename,
                                          static_cast<DWORD>(info.size()))) {
            error_ = WindowsErrorText(::GetLastError());
            return false;
        }
        temporary_.clear();
        placed_ = true;
        return true;
    }

    bool Placed() const override { return placed_; }

    void Discard() override {
        file_.reset();
        const std::string& name = placed_ ? target_ : temporary_;
        if ((created_ || !placed_) && !name.empty()) ::DeleteFileW(WideFromUtf8(name).c_str());
        temporary_.clear();
        placed_ = true;
        if (guard_ != INVALID_HANDLE_VALUE) ::CloseHandle(guard_);
        guard_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;  // owned by file_
    std::unique_ptr<WindowsFile> file_;
    std::string target_;
    std::string temporary_;
    HANDLE guard_;
    bool placed_;
    bool created_;
    std::string error_;
};

// Written under a temporary name beside the target, moved over it by Commit.
class WindowsReplacement final : public ReplacementFile {
  public:
    WindowsReplacement(HANDLE h, std::string target, std::string temporary, HANDLE guard)
        : file_(std::make_unique<WindowsFile>(h)),
          target_(std::move(target)),
          temporary_(std::move(temporary)),
          guard_(guard) {}
    ~WindowsReplacement() override {
        file_.reset();
        if (!temporary_.empty()) ::DeleteFileW(WideFromUtf8(temporary_).c_str());
        if (guard_ != INVALID_HANDLE_VALUE) ::CloseHandle(guard_);
    }
    WindowsReplacement(const WindowsReplacement&) = delete;
    WindowsReplacement& operator=(const WindowsReplacement&) = delete;

    bool Write(const void* data, std::size_t size) override { return file_->Write(data, size); }
    bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
        return file_->PatchAt(offset, data, size);
    }
    bool Flush() override { return file_->Flush(); }
    uint64_t DurableSize() override { return file_->DurableSize(); }
    bool Truncate(uint64_t size) override { return file_->Truncate(size); }
    bool Close() override {
        closed_ = true;
        closedOk_ = file_->Close();
        return closedOk_;
    }
    std::string Error() const override { return error_.empty() ? file_->Error() : error_; }

    bool Commit() override {
        if (!closed_ || !closedOk_) {
            if (file_->Error().empty()) error_ = "the file was not completed";
            return false;
        }
        const std::wstring from = WideFromUtf8(temporary_);
        const std::wstring to = WideFromUtf8(target_);
        if (guard_ == INVALID_HANDLE_VALUE) {
            // No target when the export began: take the name only while it is free.
            if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
                temporary_.clear();
                return true;
            }
            const DWORD code = ::GetLastError();
            if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) return Fail(code);
            if (!LockTarget(target_, guard_, error_)) return false;
        }
        // The move needs the target without open handles of this process.
        ::CloseHandle(guard_);
        guard_ = INVALID_HANDLE_VALUE;
        if (!::MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return Fail(::GetLastError());
        }
        temporary_.clear();
        return true;
    }

    std::string WritablePath() const override { return temporary_; }

  private:
    bool Fail(DWORD code) {
        error_ = WindowsErrorText(code != 0 ? code : ERROR_WRITE_FAULT);
        return false;
    }

    std::unique_ptr<WindowsFile> file_;
    std::string target_;
    std::string temporary_;  // empty once the file is in place
    HANDLE guard_;
    bool closed_ = false;
    bool closedOk_ = false;
    std::string error_;
};

}  // namespace

bool FileOpener::Exists(const std::string& path) {
    return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileOpener::CanCreate(const std::string& path, std::string& error) {
    error = NotRegular(path);
    if (!error.empty()) return false;
    // Tried without truncation; a file made only for the test is removed again.
    DWORD code = 0;
    HANDLE h = OpenLocked(path, OPEN_EXISTING, error, code);
    bool created = false;
    if (h == INVALID_HANDLE_VALUE && code == ERROR_FILE_NOT_FOUND) {
        h = OpenLocked(path, CREATE_NEW, error, code);
        created = h != INVALID_HANDLE_VALUE;
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    if (created) ::DeleteFileW(WideFromUtf8(path).c_str());
    error.clear();
    return true;
}

std::unique_ptr<OutputFile> DiskFileOpener::Create(const std::string& path, std::string& error) {
    // Truncated only once the file is held: a file another run is recording
    // keeps every byte.
    DWORD code = 0;
    const HANDLE h = OpenLocked(path, OPEN_ALWAYS, error, code);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
        error = WindowsErrorText(::GetLastError());
        ::CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<WindowsFile>(h);
}

std::unique_ptr<ReplacementFile> FileOpener::CreateReplacement(const std::string& path,
                                                               std::string& error) {
    std::error_code ec;
    std::string target = path;
    if (std::filesystem::is_symlink(WideFromUtf8(path), ec)) {
        const auto resolved = std::filesystem::canonical(WideFromUtf8(path), ec);
        if (!ec) target = Utf8FromWide(resolved.wstring());
    }
    if (std::filesystem::is_directory(WideFromUtf8(target), ec)) {
        error = WindowsErrorText(ERROR_DIRECTORY);
        return nullptr;
    }
    HANDLE guard = INVALID_HANDLE_VALUE;
    if (!LockTarget(target, guard, error)) return nullptr;
    // Shared for writing, so that a writer given the temporary name can open it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = TemporaryName(target);
        const HANDLE h = ::CreateFileW(WideFromUtf8(temporary).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return std::make_unique<WindowsReplacement>(h, target, temporary, guard);
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    error = WindowsErrorText(::GetLastError());
    if (guard != INVALID_HANDLE_VALUE) ::CloseHandle(guard);
    return nullptr;
}

std::unique_ptr<RecordingFile> FileOpener::CreateRecording(const std::string& path,
                                                           std::string& error) {
    std::error_code ec;
    std::string target = path;
    if (std::filesystem::is_symlink(WideFromUtf8(path), ec)) {
        const auto resolved = std::filesystem::canonical(WideFromUtf8(path), ec);
        if (!ec) target = Utf8FromWide(resolved.wstring());
    }
    error = NotRegular(target);
    if (!error.empty()) return nullptr;
    DWORD code = 0;
    // A new target is created under its own name; an existing one is kept
    // until the recording takes its place.
    HANDLE h = ::CreateFileW(WideFromUtf8(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        return std::make_unique<WindowsRecording>(h, target, std::string(), INVALID_HANDLE_VALUE);
    }
    code = ::GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
        error = code == ERROR_SHARING_VIOLATION ? kInUse : WindowsErrorText(code);
        return nullptr;
    }
    // The guard is a recorder's own handle on the target: a second recorder,
    // an export or a repair is refused meanwhile, as while the run records.
    const HANDLE guard = OpenLocked(target, OPEN_EXISTING, error, code);
    if (guard == INVALID_HANDLE_VALUE) return nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = TemporaryName(target);
        h = ::CreateFileW(WideFromUtf8(temporary).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return std::make_unique<WindowsRecording>(h, target, temporary, guard);
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    error = WindowsErrorText(::GetLastError());
    ::CloseHandle(guard);
    return nullptr;
}

bool HeldByRecorder(const std::string& path) {
    // A recorder's handle shares reading only: an open that will not share
    // writing fails while it is there. (For the moment this handle is open, a
    // recorder starting on the same file would be refused in turn.)
    const HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(h);
    return false;
}

FileOpener& DefaultFileOpener() {
    static DiskFileOpener opener;
    return opener;
}

}  // namespace tamix
