// The output-file seam on Windows: the same buffered file as elsewhere, locked
// by its share mode (other programs may read it while it is recorded, never
// write it), every write placed at an explicit offset.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/WindowsText.h"
#include "recording/OutputFile.h"

namespace tamix {
namespace {

constexpr const char* kInUse = "it is being recorded by another program";

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

}  // namespace

bool FileOpener::Exists(const std::string& path) {
    return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileOpener::CanCreate(const std::string& path, std::string& error) {
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
