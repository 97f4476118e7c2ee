// Reading a recording on Windows: positioned ReadFile calls on one handle,
// opened with every sharing right, so that a recorder may go on writing the
// file, and another program may cut it short or replace it, while it is read.
#include <windows.h>

#include <algorithm>

#include "base/WindowsText.h"
#include "recording/ReadOnlyFile.h"

namespace tamix {
namespace {

HANDLE Handle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

void ReadOnlyFile::Release() {
    if (handle_ != -1) ::CloseHandle(Handle(handle_));
    handle_ = -1;
    size_ = 0;
}

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
    Release();
    const std::wstring wide = WideFromUtf8(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "not a regular file";
        return false;
    }
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = WindowsErrorText(::GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        error = "not a regular file";
        ::CloseHandle(file);
        return false;
    }
    if (!::GetFileSizeEx(file, &size)) {
        error = WindowsErrorText(::GetLastError());
        ::CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool ReadOnlyFile::Grow(std::string& error) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) {
        error = WindowsErrorText(::GetLastError());
        return false;
    }
    if (static_cast<uint64_t>(size.QuadPart) < size_) {
        error = kFileChangedReason;
        return false;
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

// Windows reads ahead on its own when a file is read front to back.
void ReadOnlyFile::AdviseSequential() const {}

bool ReadOnlyFile::ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (offset > size_ || out.size() > size_ - offset) {
        error = "a read beyond the end of the file";
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        // The offset travels with each call, so threads sharing the handle
        // never move each other's position.
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(Handle(handle_), out.data() + done, want, &got, &at)) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_HANDLE_EOF) {
                error = kFileChangedReason;
            } else {
                error = WindowsErrorText(err);
            }
            return false;
        }
        if (got == 0) {
            error = kFileChangedReason;
            return false;
        }
        done += got;
    }
    return true;
}

}  // namespace tamix
