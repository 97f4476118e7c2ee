#include "base/WindowsText.h"

#include <windows.h>

namespace tamix {

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                          nullptr, nullptr);
    return utf8;
}

std::string WindowsErrorText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring_view view(text != nullptr ? text : L"", n);
    while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' ' ||
                             view.back() == L'.'))
        view.remove_suffix(1);
    std::string result =
        view.empty() ? "Windows error " + std::to_string(code) : Utf8FromWide(view);
    if (text != nullptr) ::LocalFree(text);
    return result;
}

}  // namespace tamix
