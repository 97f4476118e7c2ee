#include "device/SignalGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tamix {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBeatPeriod = 60.0 / 72.0;

double Gauss(double x, double centre, double width) {
    const double d = (x - centre) / width;
    return std::exp(-0.5 * d * d);
}

// One heartbeat: P wave, QRS complex with an R wave of about 1 V, T wave.
double Ecg(double t) {
    const double x = std::fmod(t, kBeatPeriod);
    return 0.12 * Gauss(x, 0.16, 0.025) - 0.10 * Gauss(x, 0.265, 0.008) +
           1.0 * Gauss(x, 0.28, 0.010) - 0.18 * Gauss(x, 0.30, 0.010) +
           0.25 * Gauss(x, 0.50, 0.045);
}

// Arterial-pressure-like wave between about 0.8 and 1.2 V: a fast systolic
// rise, a dicrotic notch and a slow diastolic decay.
double Pressure(double t) {
    const double x = std::fmod(t, kBeatPeriod) / kBeatPeriod;
    const double systole = Gauss(x, 0.22, 0.08);
    const double dicrotic = 0.25 * Gauss(x, 0.45, 0.05);
    const double decay = 0.35 * std::exp(-3.0 * x);
    return 0.8 + 0.4 * std::min(1.0, systole + dicrotic + decay * (1.0 - systole));
}

}  // namespace

double SignalGenerator::Volts(int input, double t) {
    // Within a period counted in whole ticks, so that equal phases give equal
    // volts (fmod of a long time would not), and a period's end meets its start.
    const int64_t period = PeriodTicks(input);
    const int64_t phase = ((std::llround(t * kTicksPerSecond) % period) + period) % period;
    return VoltsInPeriod(input, static_cast<double>(phase) / kTicksPerSecond);
}

double SignalGenerator::VoltsInPeriod(int input, double t) {
    switch (input) {
        case 0:
            return 5.0 * std::sin(kTwoPi * 1.0 * t);
        case 1:
            return std::fmod(t, 0.5) < 0.25 ? 2.5 : -2.5;
        case 2: {
            const double x = std::fmod(t, 2.0);
            return x < 1.0 ? -8.0 + 16.0 * x : 8.0 - 16.0 * (x - 1.0);
        }
        case 3:
            return -10.0 + 20.0 * std::fmod(t, 4.0) / 4.0;
        case 4:
            return Ecg(t);
        case 5:
            return Pressure(t);
        case 6:
            return 2.5;
        case 7:
            return 1.0 * std::sin(kTwoPi * 50.0 * t);
        default:
            return 0.0;
    }
}

int16_t SignalGenerator::Representable(long sample, int modelClass, int input) {
    switch (modelClass) {
        case 1:
        case 2: {
            // 12-bit codes in steps of 16; on the inverted inputs the code for
            // -32768 would only come from a wrap, so the range is symmetric.
            const long lo = input >= 4 ? -32768 : -32752;
            const long v = std::clamp(sample, lo, 32752L);
            long q = static_cast<long>(std::lround(static_cast<double>(v) / 16.0)) * 16;
            return static_cast<int16_t>(std::clamp(q, lo, 32752L));
        }
        case 3: {
            const long v = std::clamp(sample, -32764L, 32764L);
            const long q = static_cast<long>(std::lround(static_cast<double>(v) / 4.0)) * 4;
            return static_cast<int16_t>(std::clamp(q, -32764L, 32764L));
        }
        default:
            return static_cast<int16_t>(std::clamp(sample, -32768L, 32767L));
    }
}

int64_t SignalGenerator::PeriodTicks(int input) {
    constexpr auto kSecond = static_cast<int64_t>(kTicksPerSecond);
    switch (input) {
        case 0:
            return kSecond;
        case 1:
            return kSecond / 2;
        case 2:
            return 2 * kSecond;
        case 3:
            return 4 * kSecond;
        case 4:
        case 5:
            return kSecond * 5 / 6;  // the beat period, 60/72 s
        case 7:
            return kSecond / 50;
        default:
            return 1;
    }
}

int16_t SignalGenerator::IntendedSample(int input, double t, int modelClass) {
    const long raw = std::lround(Volts(input, t) * 3276.8);
    return Representable(raw, modelClass, input);
}

uint16_t SignalGenerator::EncodeWord(int16_t sample, int modelClass, int input, unsigned noise) {
    switch (modelClass) {
        case 1:
        case 2: {
            const int code = input >= 4 ? sample / 16 + 2048 : 2048 - sample / 16;
            return static_cast<uint16_t>((code & 0x0FFF) | NoiseBits(modelClass, noise));
        }
        case 3:
            return static_cast<uint16_t>((static_cast<uint16_t>(-sample) & 0xFFFC) |
                                         NoiseBits(modelClass, noise));
        default:
            return static_cast<uint16_t>(sample + 32768);
    }
}

uint16_t SignalGenerator::NoiseBits(int modelClass, unsigned noise) {
    switch (modelClass) {
        case 1:
        case 2:
            // The top four bits are ignored by the host.
            return static_cast<uint16_t>((noise & 0xF) << 12);
        case 3:
            return static_cast<uint16_t>(noise & 3);
        default:
            return 0;
    }
}

}  // namespace tamix
