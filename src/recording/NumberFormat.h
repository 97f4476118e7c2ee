// Number formatting for the text files, always in the C locale: "%.4lg" with a
// three-digit exponent ("1.234e+004") and "%.3lf". The fast forms give the same
// bytes as the reference forms for every double.
#pragma once

#include <cstddef>

namespace tamix {

// Room for any result of the functions below, without a terminating NUL.
inline constexpr std::size_t kMaxNumberChars = 32;

// "%.4lg" with the exponent widened to three digits; returns the length.
std::size_t FormatG4(double value, char* out);
// "%.3lf"; returns the length. Values beyond 1e15 use the slow path.
std::size_t FormatFixed3(double value, char* out);

// The plain forms, from the C library, for tests and benchmarks.
std::size_t FormatG4Snprintf(double value, char* out);
std::size_t FormatG4ToChars(double value, char* out);
std::size_t FormatFixed3ToChars(double value, char* out);

}  // namespace tamix
