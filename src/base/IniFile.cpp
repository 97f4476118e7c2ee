#include "base/IniFile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    std::ifstream in(path_, std::ios::binary);
    std::string raw;
    std::string current;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        Line line;
        line.text = raw;
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
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        out += "\r\n";
    }
    return out;
}

bool IniFile::Save(std::string& error) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path_);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::string temp = path_ + ".new" + std::to_string(::getpid());
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const std::string text = Text();
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ::fsync(fileno(f)) == 0 && ok;
    if (!ok) error = std::strerror(errno);
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path_.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(temp.c_str());
    return ok;
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
