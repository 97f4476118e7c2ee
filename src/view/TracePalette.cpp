#include "view/TracePalette.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tamix {
namespace {

double Linear(uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

uint8_t Mix(uint8_t from, uint8_t to, double t) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * t));
}

// Okabe and Ito's set, distinguishable with every common colour-vision
// deficiency; the eighth input takes the ink colour's grey.
constexpr std::array<Rgb, 8> kBase = {{
    {0, 114, 178},    // blue
    {213, 94, 0},     // vermillion
    {0, 158, 115},    // bluish green
    {204, 121, 167},  // reddish purple
    {230, 159, 0},    // orange
    {86, 180, 233},   // sky blue
    {240, 228, 66},   // yellow
    {128, 128, 128},  // grey
}};

}  // namespace

double Luminance(Rgb c) {
    return 0.2126 * Linear(c.r) + 0.7152 * Linear(c.g) + 0.0722 * Linear(c.b);
}

double ContrastRatio(Rgb a, Rgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDark(Rgb background) {
    return Luminance(background) < 0.18;
}

Rgb WithContrast(Rgb colour, Rgb background, double minRatio) {
    const uint8_t target = IsDark(background) ? 255 : 0;
    // Twenty steps of 5 % reach pure black or white, which always suffices
    // against the background it was chosen for.
    for (int step = 0; step <= 20; ++step) {
        const double t = step / 20.0;
        const Rgb c{Mix(colour.r, target, t), Mix(colour.g, target, t), Mix(colour.b, target, t)};
        if (ContrastRatio(c, background) >= minRatio) return c;
    }
    return {target, target, target};
}

Rgb TraceColour(int input, Rgb background) {
    return WithContrast(kBase[static_cast<std::size_t>(std::clamp(input, 0, 7))], background,
                        kMinTraceContrast);
}

Rgb InkFor(Rgb background) {
    return IsDark(background) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
}

}  // namespace tamix
