#include "base/Utf8Text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace tamix {
namespace {

// Length of the UTF-8 sequence starting at `p`, or 1 for a stray byte.
std::size_t SequenceLength(std::string_view text, std::size_t p) {
    const auto lead = static_cast<unsigned char>(text[p]);
    std::size_t len = 1;
    if (lead >= 0xF0 && lead < 0xF8) {
        len = 4;
    } else if (lead >= 0xE0) {
        len = lead < 0xF0 ? 3 : 1;
    } else if (lead >= 0xC0) {
        len = 2;
    }
    if (p + len > text.size()) return 1;
    for (std::size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(text[p + i]) & 0xC0) != 0x80) return 1;
    }
    return len;
}

uint32_t DecodeAt(std::string_view text, std::size_t p, std::size_t len) {
    const auto b = [&](std::size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(text[p + i]));
    };
    switch (len) {
        case 2:
            return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3:
            return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        case 4:
            return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                   (b(3) & 0x3F);
        default:
            return b(0);
    }
}

// Code points of Windows-1252 bytes 0x80..0x9F (0 where the byte is undefined).
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t p = 0; p < text.size(); p += SequenceLength(text, p)) ++count;
    return count;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars, std::size_t maxBytes) {
    std::size_t p = 0;
    std::size_t chars = 0;
    while (p < text.size() && chars < maxChars) {
        const std::size_t len = SequenceLength(text, p);
        if (p + len > maxBytes) break;
        p += len;
        ++chars;
    }
    return text.substr(0, p);
}

void CopyText(std::span<char> dest, std::string_view text, std::size_t maxChars) {
    const std::string_view part = Utf8Prefix(text, maxChars, dest.size() - 1);
    if (!part.empty()) std::memcpy(dest.data(), part.data(), part.size());
    dest[part.size()] = '\0';
}

std::string_view FieldText(std::span<const char> field) {
    const auto end = std::find(field.begin(), field.end(), '\0');
    return {field.data(), static_cast<std::size_t>(end - field.begin())};
}

std::string ToWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t p = 0; p < utf8.size();) {
        const std::size_t len = SequenceLength(utf8, p);
        const uint32_t cp = DecodeAt(utf8, p, len);
        p += len;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF && len > 1)) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        const auto it = std::find(kCp1252High.begin(), kCp1252High.end(), cp);
        if (cp != 0 && it != kCp1252High.end()) {
            out.push_back(static_cast<char>(0x80 + (it - kCp1252High.begin())));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

}  // namespace tamix
