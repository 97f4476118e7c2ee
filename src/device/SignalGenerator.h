// The signals of the simulated instrument: one waveform per input number, in
// volts at time t, and the sample each model's class can code for it.
#pragma once

#include <cstdint>

namespace tamix {

class SignalGenerator {
  public:
    // Time is counted in ticks of 1/6 µs, in which every signal's period is a
    // whole number: the intended samples then repeat exactly, and a unit whose
    // sample period is a whole number of ticks can play them from a table.
    static constexpr double kTicksPerSecond = 6'000'000.0;

    // Volts at input `input` (0..7) and time `t` seconds after the start
    // command, `t` taken to the nearest tick.
    static double Volts(int input, double t);

    // The sample the unit means to deliver: round(volts × 3276.8), limited to
    // what the model can code, then the nearest value its class represents.
    static int16_t IntendedSample(int input, double t, int modelClass);

    // The signal's period of input `input` in ticks (1 for a constant).
    static int64_t PeriodTicks(int input);

    // Nearest representable sample of a class for an input, without wrapping.
    static int16_t Representable(long sample, int modelClass, int input);

    // The 16-bit word that ConvertSample turns back into `sample` (which must be
    // representable). `noise` fills bits the conversion ignores.
    static uint16_t EncodeWord(int16_t sample, int modelClass, int input, unsigned noise);
    // The bits of EncodeWord that only `noise` sets (those of noise 0 are clear);
    // they depend on the low four bits of `noise` only.
    static uint16_t NoiseBits(int modelClass, unsigned noise);

  private:
    // Volts at `t` seconds into the input's period.
    static double VoltsInPeriod(int input, double t);
};

}  // namespace tamix
