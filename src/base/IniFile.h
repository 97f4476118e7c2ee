// A private initialisation file with the semantics of the Windows profile
// functions: case-insensitive section and key names, surrounding blanks
// trimmed, integers from their leading digits, and everything else of the file
// (other sections, keys, comments) kept when it is written back. Saving writes
// a new file and renames it over the old one, so a crash never leaves half a file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamix {

class IniFile {
  public:
    IniFile() = default;
    // Reads `path`; a missing or unreadable file gives an empty profile.
    explicit IniFile(std::string path);

    const std::string& path() const { return path_; }

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

    std::string path_;
    std::vector<Line> lines_;
};

// Leading number of a text as the profile reads it (C locale): 0 without one.
double LeadingNumber(std::string_view text, bool* found = nullptr);
// "%lg" in the C locale.
std::string FormatShortReal(double value);

// The profile shared by the program and its tools: "tamix.INI" in
// $XDG_CONFIG_HOME, else ~/.config.
std::string DefaultProfilePath();

}  // namespace tamix
