// UTF-8 helpers: character counting, cutting at character boundaries, and the
// Windows-1252 form that the WinDaq readers expect.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tamix {

// Number of characters (code points) in a UTF-8 text; invalid bytes count as one each.
std::size_t Utf8Length(std::string_view text);

// The longest prefix of `text` with at most `maxChars` characters and `maxBytes`
// bytes that does not end inside a character.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars, std::size_t maxBytes);

// Copies such a prefix into `dest` and terminates it; `dest` must not be empty.
void CopyText(std::span<char> dest, std::string_view text, std::size_t maxChars);

// The text as it stands in a NUL-terminated fixed field.
std::string_view FieldText(std::span<const char> field);

// Converts UTF-8 to Windows-1252; a character without a Windows-1252 code becomes '?'.
std::string ToWindows1252(std::string_view utf8);

}  // namespace tamix
