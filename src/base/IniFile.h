// A private initialisation file with the semantics of the Windows profile
// functions: case-insensitive section and key names, surrounding blanks
// trimmed, integers from their leading digits, and everything else of the file
// (other sections, keys, comments) kept when it is written back. Saving writes
// a new file beside the real one (through a symbolic link) and renames it over
// it with the old file's mode, so a crash never leaves half a file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tamix {

// A profile is a few kilobytes; anything larger is not one (or is not a file at all).
inline constexpr std::size_t kMaxProfileBytes = 1024 * 1024;

class IniFile {
  public:
    IniFile() = default;
    // Reads `path`; a missing or unreadable file gives an empty profile. Lines
    // may end in CR LF, LF or CR; a UTF-8 byte-order mark is skipped (and kept).
    explicit IniFile(std::string path);

    const std::string& path() const { return path_; }
    // Why an existing file was not read (not a regular file, over
    // kMaxProfileBytes, the system's reason), or empty. Such a file is never
    // replaced by Save.
    const std::string& LoadError() const { return loadError_; }

    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;
    // The leading integer of the value; `fallback` when the key is missing.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;
    // The leading decimal number of the value (default text when missing), 0 when none.
    double GetReal(std::string_view section, std::string_view key,
                   std::string_view fallbackText) const;

    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int value);
    // Written with six significant digits, shortest form ("%lg"), in the C locale.
    void SetReal(std::string_view section, std::string_view key, double value);

    // Writes the file atomically; false (and `error` set) when it cannot. A
    // failed save leaves the previous file as it was.
    bool Save(std::string& error) const;

    // The whole text as it would be saved.
    std::string Text() const;

  private:
    struct Line {
        std::string text;     // the line as read (or as written by Set*)
        std::string section;  // for a section header: its name
        std::string key;      // for a key line: its name
        std::string value;
    };
    // Index of the key line, or -1.
    int Find(std::string_view section, std::string_view key) const;
    const std::string* Value(std::string_view section, std::string_view key) const;

    void AddLine(std::string_view raw, std::string& currentSection);

    std::string path_;
    std::string loadError_;
    bool byteOrderMark_ = false;
    std::vector<Line> lines_;
};

// Leading number of a text as the profile reads it (C locale): 0 without one;
// a number too large for a double gives an infinity (which no check accepts).
double LeadingNumber(std::string_view text, bool* found = nullptr);
// "%lg" in the C locale.
std::string FormatShortReal(double value);

// The profile shared by the program and its tools: "tamix.INI" in
// $XDG_CONFIG_HOME, else ~/.config.
std::string DefaultProfilePath();

}  // namespace tamix
