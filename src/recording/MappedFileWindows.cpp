// The read-only file mapping on Windows: a file mapping object and one view of
// the whole file; the file may still be written by a recorder while it is read.
#include <windows.h>

#include <cstring>

#include "base/WindowsText.h"
#include "recording/MappedFile.h"

namespace tamix {

void MappedFile::Release() {
    if (data_ != nullptr) ::UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::Open(const std::string& path, std::string& error) {
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
    if (size.QuadPart > 0) {
        // The view keeps the mapping, and the mapping the file, for as long as it lives.
        const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view =
            mapping != nullptr ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        const DWORD err = ::GetLastError();
        if (mapping != nullptr) ::CloseHandle(mapping);
        if (view == nullptr) {
            error = WindowsErrorText(err);
            ::CloseHandle(file);
            return false;
        }
        data_ = static_cast<const uint8_t*>(view);
        size_ = static_cast<std::size_t>(size.QuadPart);
    }
    ::CloseHandle(file);
    return true;
}

// Windows reads ahead on its own when a view is faulted in front to back.
void MappedFile::AdviseSequential() const {}

// A copy out of the view: the file is not kept open beside it here.
bool MappedFile::ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (offset > size_ || out.size() > size_ - offset) {
        error = "a read beyond the end of the file";
        return false;
    }
    if (!out.empty()) std::memcpy(out.data(), data_ + offset, out.size());
    return true;
}

}  // namespace tamix
