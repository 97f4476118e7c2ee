#include "recording/NumberFormat.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tamix {
namespace {

// Widens the exponent of a "%g" result to at least three digits, in place.
std::size_t WidenExponent(char* out, std::size_t len) {
    char* e = static_cast<char*>(std::memchr(out, 'e', len));
    if (e == nullptr) return len;
    char* digits = e + 2;  // after 'e' and the sign
    const std::size_t nDigits = static_cast<std::size_t>(out + len - digits);
    if (nDigits >= 3) return len;
    const std::size_t pad = 3 - nDigits;
    std::memmove(digits + pad, digits, nDigits);
    std::memset(digits, '0', pad);
    return len + pad;
}

constexpr int kMinPow = -30;
constexpr int kMaxPow = 30;

constexpr std::array<double, kMaxPow - kMinPow + 1> MakePowers() {
    std::array<double, kMaxPow - kMinPow + 1> p{};
    // Exact for 10^0..10^22; the negative powers are only used for comparisons.
    double v = 1.0;
    for (int i = 0; i <= kMaxPow; ++i) {
        p[i - kMinPow] = v;
        v *= 10.0;
    }
    v = 1.0;
    for (int i = 0; i >= kMinPow; --i) {
        p[i - kMinPow] = v;
        v /= 10.0;
    }
    return p;
}
constexpr auto kPowers = MakePowers();
constexpr double Pow10(int e) {
    return kPowers[e - kMinPow];
}

char* PutDigits4(char* p, int m) {
    p[0] = static_cast<char>('0' + m / 1000);
    p[1] = static_cast<char>('0' + m / 100 % 10);
    p[2] = static_cast<char>('0' + m / 10 % 10);
    p[3] = static_cast<char>('0' + m % 10);
    return p + 4;
}

}  // namespace

std::size_t FormatG4Snprintf(double value, char* out) {
    char buf[kMaxNumberChars + 8];
    const int n = std::snprintf(buf, sizeof buf, "%.4lg", value);
    std::memcpy(out, buf, static_cast<std::size_t>(n));
    return WidenExponent(out, static_cast<std::size_t>(n));
}

std::size_t FormatG4ToChars(double value, char* out) {
    const auto r = std::to_chars(out, out + kMaxNumberChars, value, std::chars_format::general, 4);
    return WidenExponent(out, static_cast<std::size_t>(r.ptr - out));
}

std::size_t FormatFixed3ToChars(double value, char* out) {
    const auto r = std::to_chars(out, out + kMaxNumberChars, value, std::chars_format::fixed, 3);
    if (r.ec != std::errc()) {
        std::memcpy(out, "inf", 3);
        return 3;
    }
    return static_cast<std::size_t>(r.ptr - out);
}

std::size_t FormatG4(double value, char* out) {
    if (value == 0.0) {
        if (std::signbit(value)) {
            out[0] = '-';
            out[1] = '0';
            return 2;
        }
        out[0] = '0';
        return 1;
    }
    const double a = std::fabs(value);
    if (!(a >= 1e-25 && a < 1e25)) return FormatG4ToChars(value, out);

    int e2 = 0;
    std::frexp(a, &e2);
    int e = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
    while (e + 1 <= kMaxPow && a >= Pow10(e + 1)) ++e;
    while (e - 1 >= kMinPow && a < Pow10(e)) --e;
    const int shift = 3 - e;
    if (shift > 22 || shift < -22) return FormatG4ToChars(value, out);
    const double scaled = shift >= 0 ? a * Pow10(shift) : a / Pow10(-shift);
    double whole = std::floor(scaled);
    const double frac = scaled - whole;
    // The scaled value carries a rounding error of a few units in its last
    // place; near a tie only the exact decimal expansion can decide.
    if (std::fabs(frac - 0.5) < 1e-7) return FormatG4ToChars(value, out);
    int m = static_cast<int>(whole) + (frac > 0.5 ? 1 : 0);
    if (m == 10000) {
        m = 1000;
        ++e;
    }
    if (m < 1000 || m > 9999) return FormatG4ToChars(value, out);

    char* p = out;
    if (value < 0) *p++ = '-';
    char digits[4];
    PutDigits4(digits, m);
    int nd = 4;
    while (nd > 1 && digits[nd - 1] == '0') --nd;

    if (e < -4 || e >= 4) {
        *p++ = digits[0];
        if (nd > 1) {
            *p++ = '.';
            for (int i = 1; i < nd; ++i) *p++ = digits[i];
        }
        *p++ = 'e';
        *p++ = e < 0 ? '-' : '+';
        const int x = e < 0 ? -e : e;
        *p++ = static_cast<char>('0' + x / 100);
        *p++ = static_cast<char>('0' + x / 10 % 10);
        *p++ = static_cast<char>('0' + x % 10);
    } else if (e >= 0) {
        // e + 1 integer digits, then what is left of the significant digits.
        for (int i = 0; i <= e; ++i) *p++ = digits[i];
        if (nd > e + 1) {
            *p++ = '.';
            for (int i = e + 1; i < nd; ++i) *p++ = digits[i];
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = 0; i < -e - 1; ++i) *p++ = '0';
        for (int i = 0; i < nd; ++i) *p++ = digits[i];
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t FormatFixed3(double value, char* out) {
    const double a = std::fabs(value);
    if (!(a < 1e9) || std::signbit(value)) return FormatFixed3ToChars(value, out);
    const double scaled = a * 1000.0;
    const double whole = std::floor(scaled);
    const double frac = scaled - whole;
    if (std::fabs(frac - 0.5) < 1e-4) return FormatFixed3ToChars(value, out);
    const auto m = static_cast<uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
    const auto r = std::to_chars(out, out + kMaxNumberChars, m / 1000);
    char* p = r.ptr;
    const auto f = static_cast<int>(m % 1000);
    p[0] = '.';
    p[1] = static_cast<char>('0' + f / 100);
    p[2] = static_cast<char>('0' + f / 10 % 10);
    p[3] = static_cast<char>('0' + f % 10);
    return static_cast<std::size_t>(p + 4 - out);
}

}  // namespace tamix
