// The frequency of a periodic signal from its samples: rising crossings of its
// mean with hysteresis, nothing for noise, a constant, a ramp or a step.
#pragma once

#include <optional>
#include <span>

namespace tamix {

// Hertz of the signal `values` sampled every `period` seconds, or empty where
// it is not periodic. The signal must cross its mean upwards, through a band
// of half its standard deviation either side (so noise riding on it does not
// count), at least three times, and the periods between the crossings must
// agree within 10 %: two whole periods at least. A wave that crosses its mean
// more than once per period (a heartbeat's R and T waves) is taken by every
// second, third or fourth crossing when these agree and the crossings
// between them are plainly unequal.
std::optional<double> EstimateFrequency(std::span<const float> values, double period);

}  // namespace tamix
