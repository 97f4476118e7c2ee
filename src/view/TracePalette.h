// Colours of the signal view that stay readable on any theme: one trace colour
// per input from a colour-blind-safe set, each pushed darker or lighter until it
// contrasts with the window's actual background, and the text colour for it.
#pragma once

#include <cstdint>

namespace tamix {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// Relative luminance 0..1 of an sRGB colour.
double Luminance(Rgb c);
// Contrast ratio 1..21 of two colours (1 = the same lightness).
double ContrastRatio(Rgb a, Rgb b);
bool IsDark(Rgb background);

// Graphics need a contrast of 3:1 with what lies next to them to be seen.
inline constexpr double kMinTraceContrast = 3.0;

// Moves `colour` towards black (light background) or white (dark background)
// until it reaches `minRatio` against `background`.
Rgb WithContrast(Rgb colour, Rgb background, double minRatio);

// The trace colour of physical input 0..7 on `background`.
Rgb TraceColour(int input, Rgb background);
// Black or white, whichever stands out more: text, zero lines, icons.
Rgb InkFor(Rgb background);

}  // namespace tamix
