#include "base/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/ProfileFile.h"

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

// The value of a decimal number beyond a double's range: its sign, and whether
// its order of magnitude is above one (an overflow) or below (an underflow).
double OutOfRangeValue(std::string_view number) {
    const bool negative = !number.empty() && number.front() == '-';
    if (negative) number.remove_prefix(1);
    long long exponent = 0;
    const std::size_t e = number.find_first_of("eE");
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
        const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        if (r.ec == std::errc::result_out_of_range)
            exponent = digits.front() == '-' ? -(1LL << 62) : 1LL << 62;
        number = number.substr(0, e);
    }
    const std::size_t point = std::min(number.find('.'), number.size());
    const std::size_t first = number.find_first_not_of("0.");
    long long magnitude = 0;  // the power of ten of the leading digit, plus one
    if (first != std::string_view::npos) {
        magnitude = first < point ? static_cast<long long>(point - first)
                                  : -static_cast<long long>(first - point - 1);
    }
    const double value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

double LeadingNumber(std::string_view text, bool* found) {
    std::string_view s = Trim(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double value = 0;
    const auto r =
        std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone: an overflow is an infinity, an
        // underflow a zero, as strtod gives them.
        value =
            OutOfRangeValue(std::string_view(s.data(), static_cast<std::size_t>(r.ptr - s.data())));
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

}  // namespace

bool IniFile::Save(std::string& error) const {
    namespace fs = std::filesystem;
    if (!loadError_.empty()) {
        error = "it was not read (" + loadError_ + "), so it is not replaced";
        return false;
    }
    std::error_code ec;
    // UTF-8 by the core's rule, whatever the system's narrow code page is.
    const fs::path target = FinalTarget(fs::path(std::u8string(path_.begin(), path_.end())));
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    return ReplaceProfileText(target, Text(), error);
}

std::string ProfileTooLargeReason() {
    return "Larger than " + std::to_string(kMaxProfileBytes / 1024 / 1024) + " MiB";
}

}  // namespace tamix
