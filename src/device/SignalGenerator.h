// The signals of the simulated instrument: one waveform per input number, in
// volts at time t, and the sample each model's class can code for it.
#pragma once

#include <cstdint>

namespace tamix {

class SignalGenerator {
  public:
    // Volts at input `input` (0..7) and time `t` seconds after the start command.
    static double Volts(int input, double t);

    // The sample the unit means to deliver: round(volts × 3276.8), limited to
    // what the model can code, then the nearest value its class represents.
    static int16_t IntendedSample(int input, double t, int modelClass);

    // Nearest representable sample of a class for an input, without wrapping.
    static int16_t Representable(long sample, int modelClass, int input);

    // The 16-bit word that ConvertSample turns back into `sample` (which must be
    // representable). `noise` fills bits the conversion ignores.
    static uint16_t EncodeWord(int16_t sample, int modelClass, int input, unsigned noise);
};

}  // namespace tamix
