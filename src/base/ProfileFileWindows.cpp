// The profile file on Windows: read with a size limit, replaced atomically
// (a whole new file moved over the old one), kept in the roaming application
// data folder.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "base/IniFile.h"
#include "base/ProfileFile.h"
#include "base/WindowsText.h"

namespace tamix {
namespace {

struct HandleCloser {
    void operator()(void* h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle Own(HANDLE h) {
    return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

bool WriteAll(HANDLE h, std::string_view text) {
    while (!text.empty()) {
        DWORD n = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!::WriteFile(h, text.data(), chunk, &n, nullptr) || n == 0) return false;
        text.remove_prefix(n);
    }
    return true;
}

}  // namespace

std::string ReadProfileText(const std::string& path, std::string& error) {
    const std::wstring wide = WideFromUtf8(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND)
            error = WindowsErrorText(err);
        return {};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "Is a directory";
        return {};
    }
    const Handle file = Own(::CreateFileW(wide.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = WindowsErrorText(::GetLastError());
        return {};
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        error = "Not a regular file";
        return {};
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        error = WindowsErrorText(::GetLastError());
        return {};
    }
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxProfileBytes) {
        error = ProfileTooLargeReason();
        return {};
    }
    // One byte more than the size, to see a file that grows while it is read.
    std::string text(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), text.data() + used, static_cast<DWORD>(text.size() - used), &n,
                        nullptr)) {
            error = WindowsErrorText(::GetLastError());
            return {};
        }
        if (n == 0) break;
        used += n;
        if (used == text.size() && used <= kMaxProfileBytes) text.resize(kMaxProfileBytes + 1);
    }
    if (used > kMaxProfileBytes) {
        error = ProfileTooLargeReason();
        return {};
    }
    text.resize(used);
    return text;
}

bool ReplaceProfileText(const std::filesystem::path& target, std::string_view content,
                        std::string& error) {
    const std::wstring wideTarget = target.wstring();
    const std::wstring temp = wideTarget + L".new" + std::to_wstring(::GetCurrentProcessId());
    ::DeleteFileW(temp.c_str());  // left by a crashed save of a process with this id
    Handle file = Own(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = WindowsErrorText(::GetLastError());
        return false;
    }
    bool ok = WriteAll(file.get(), content) && ::FlushFileBuffers(file.get());
    if (!ok) error = WindowsErrorText(::GetLastError());
    if (!::CloseHandle(file.release()) && ok) {
        error = WindowsErrorText(::GetLastError());
        ok = false;
    }
    // Replaces in one step: a reader sees the old profile or the new one.
    if (ok && !::MoveFileExW(temp.c_str(), wideTarget.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = WindowsErrorText(::GetLastError());
        ok = false;
    }
    if (!ok) ::DeleteFileW(temp.c_str());
    return ok;
}

std::string DefaultProfilePath() {
    const wchar_t* appData = ::_wgetenv(L"APPDATA");
    const std::string dir = appData != nullptr && appData[0] != L'\0' ? Utf8FromWide(appData) : ".";
    return dir + "\\tamix.INI";
}

}  // namespace tamix
