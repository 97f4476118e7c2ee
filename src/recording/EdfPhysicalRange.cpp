#include "recording/EdfPhysicalRange.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "recording/EngineeringValue.h"

namespace tamix {
namespace {

constexpr std::size_t kFieldChars = 8;
constexpr int kMaxPrefixExponent = 24;
constexpr double kSteps = 65535.0;  // digital maximum - digital minimum

constexpr std::array<std::pair<char, int>, 16> kPrefixes = {{{'y', -24},
                                                             {'z', -21},
                                                             {'a', -18},
                                                             {'f', -15},
                                                             {'p', -12},
                                                             {'n', -9},
                                                             {'u', -6},
                                                             {'m', -3},
                                                             {'k', 3},
                                                             {'M', 6},
                                                             {'G', 9},
                                                             {'T', 12},
                                                             {'P', 15},
                                                             {'E', 18},
                                                             {'Z', 21},
                                                             {'Y', 24}}};

// Units whose first letter, when it is a prefix, is read as one ("mV", "kPa",
// "ms"); any other unit is taken whole ("mmHg", "pH", "min", "degC").
constexpr std::array<std::string_view, 18> kBaseUnits = {"V", "A", "W", "Ohm", "Pa", "bar",
                                                         "g", "m", "s", "N",   "J",  "Hz",
                                                         "S", "K", "T", "mol", "l",  "L"};

int PrefixExponent(char c) {
    for (const auto& [letter, exponent] : kPrefixes) {
        if (letter == c) return exponent;
    }
    return 0;
}

char PrefixLetter(int exponent) {
    for (const auto& [letter, e] : kPrefixes) {
        if (e == exponent) return letter;
    }
    return 0;
}

double Pow10(int e) {
    double p = 1;
    for (int i = 0; i < e; ++i) p *= 10;
    return p;
}

// Multiplying by an exact power of ten (10^22 and below are exact) rounds once.
double Scaled(double x, int e) {
    return e >= 0 ? x / Pow10(e) : x * Pow10(-e);
}
double Unscaled(double x, int e) {
    return e >= 0 ? x * Pow10(e) : x / Pow10(-e);
}

double Parse(const std::string& text) {
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

std::string Shortest(double v) {
    std::array<char, 32> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

struct Candidate {
    EdfPhysicalRange range;
    bool valid = false;
};

Candidate Try(double lo, double hi, double step, std::string_view unit, int exponent) {
    Candidate c;
    EdfPhysicalRange& r = c.range;
    r.minimum = EdfNumberText(Scaled(lo, exponent));
    r.maximum = EdfNumberText(Scaled(hi, exponent));
    if (r.minimum.empty() || r.maximum.empty() || r.minimum == r.maximum) return c;
    r.dimension = EdfPrefixedUnit(unit, exponent);
    if (exponent != 0 && r.dimension.empty()) return c;
    r.exponent = exponent;
    r.minimumValue = Parse(r.minimum);
    r.maximumValue = Parse(r.maximum);
    r.stepError = std::max(std::abs(Unscaled(r.minimumValue, exponent) - lo),
                           std::abs(Unscaled(r.maximumValue, exponent) - hi)) /
                  step;
    c.valid = std::isfinite(r.stepError);
    return c;
}

}  // namespace

std::string EdfNumberText(double value, int* decimals) {
    if (!std::isfinite(value)) return {};
    for (int f = 6; f >= 0; --f) {
        std::array<char, 400> buf{};
        const auto r =
            std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, f);
        if (r.ec != std::errc() || static_cast<std::size_t>(r.ptr - buf.data()) > kFieldChars) {
            continue;
        }
        std::string text(buf.data(), r.ptr);
        if (f > 0) {
            while (text.back() == '0') text.pop_back();
            if (text.back() == '.') text.pop_back();
        }
        if (text == "-0") text = "0";
        if (decimals != nullptr) *decimals = f;
        return text;
    }
    return {};
}

std::string EdfPrefixedUnit(std::string_view unit, int exponent) {
    if (exponent == 0) return std::string(unit);
    int own = 0;
    std::string_view base = unit;
    if (unit.size() >= 2 && PrefixExponent(unit[0]) != 0 &&
        std::find(kBaseUnits.begin(), kBaseUnits.end(), unit.substr(1)) != kBaseUnits.end()) {
        own = PrefixExponent(unit[0]);
        base = unit.substr(1);
    }
    const int total = own + exponent;
    std::string out;
    if (total != 0) {
        const char letter = PrefixLetter(total);
        if (letter == 0) return {};
        out.push_back(letter);
    }
    out += base;
    if (out.empty() || out.size() > kFieldChars) return {};
    return out;
}

bool ChooseEdfPhysicalRange(const ChannelInfo& channel, std::string_view unit,
                            EdfPhysicalRange& range, std::string& reason) {
    if (!std::isfinite(channel.valueAt1V) || !std::isfinite(channel.valueAt0V)) {
        reason = "its calibration is not a finite number";
        return false;
    }
    const double lo = EngineeringValue(-32768, channel);
    double hi = EngineeringValue(32767, channel);
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        reason = "its values exceed the range of numbers";
        return false;
    }
    // EDF needs two different ends; every sample is then written at the lower.
    const bool constant = lo == hi;
    if (constant) hi = lo + (lo == 0 ? 1.0 : std::abs(lo));
    const double step = std::abs(hi - lo) / kSteps;

    Candidate best;
    for (int k = 0; k <= 2 * kMaxPrefixExponent / 3; ++k) {
        // 0, 3, -3, 6, -6, ...: the channel's own unit first, then the nearest prefixes.
        const int exponent = (k + 1) / 2 * 3 * (k % 2 == 1 ? 1 : -1);
        const Candidate c = Try(lo, hi, step, unit, exponent);
        if (!c.valid) continue;
        if (c.range.stepError <= kEdfRangeTolerance) {
            best = c;
            break;
        }
        if (!best.valid || c.range.stepError < best.range.stepError) best = c;
    }
    if (!best.valid || best.range.stepError > kEdfRangeLimit) {
        reason = "EDF's 8-character fields cannot hold its range, " + Shortest(lo) + " to " +
                 Shortest(constant ? lo : hi) + (unit.empty() ? "" : " ") + std::string(unit) +
                 ", to within half a digital step";
        return false;
    }
    range = best.range;
    range.constant = constant;
    return true;
}

}  // namespace tamix
