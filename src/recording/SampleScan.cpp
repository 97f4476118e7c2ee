#include "recording/SampleScan.h"

#include <algorithm>

namespace tamix {
namespace {

// Eight scans of N channels make 8·N lanes in which lane j always holds channel
// j % N, so the loop over them is one fixed-width min and max that compilers
// turn into vector instructions; the lanes are folded into channels at the end.
template <std::size_t N>
void ScanFixed(const int16_t* samples, int64_t scans, std::span<SampleMinMax> into) {
    constexpr std::size_t kLanes = 8 * N;
    // Plain arrays and comparisons of values: std::min's references keep GCC
    // from vectorising the lane loop.
    int16_t lo[kLanes];
    int16_t hi[kLanes];
    for (std::size_t j = 0; j < kLanes; ++j) {
        lo[j] = kNoSamples.min;
        hi[j] = kNoSamples.max;
    }
    const int64_t groups = scans / 8;
    const int16_t* p = samples;
    for (int64_t g = 0; g < groups; ++g, p += kLanes) {
        for (std::size_t j = 0; j < kLanes; ++j) {
            const int16_t v = p[j];
            lo[j] = v < lo[j] ? v : lo[j];
            hi[j] = v > hi[j] ? v : hi[j];
        }
    }
    for (int64_t s = groups * 8; s < scans; ++s, p += N) {
        for (std::size_t k = 0; k < N; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    for (std::size_t j = 0; j < kLanes; ++j) {
        SampleMinMax& out = into[j % N];
        out.min = std::min(out.min, lo[j]);
        out.max = std::max(out.max, hi[j]);
    }
}

void ScanAny(const int16_t* samples, int64_t scans, std::size_t channels,
             std::span<SampleMinMax> into) {
    const int16_t* p = samples;
    for (int64_t s = 0; s < scans; ++s, p += channels) {
        for (std::size_t k = 0; k < channels; ++k) {
            into[k].min = std::min(into[k].min, p[k]);
            into[k].max = std::max(into[k].max, p[k]);
        }
    }
}

}  // namespace

void ScanSampleMinMax(const int16_t* samples, int64_t scans, std::size_t channels,
                      std::span<SampleMinMax> into) {
    switch (channels) {
        case 1:
            return ScanFixed<1>(samples, scans, into);
        case 2:
            return ScanFixed<2>(samples, scans, into);
        case 3:
            return ScanFixed<3>(samples, scans, into);
        case 4:
            return ScanFixed<4>(samples, scans, into);
        case 5:
            return ScanFixed<5>(samples, scans, into);
        case 6:
            return ScanFixed<6>(samples, scans, into);
        case 7:
            return ScanFixed<7>(samples, scans, into);
        case 8:
            return ScanFixed<8>(samples, scans, into);
        default:
            return ScanAny(samples, scans, channels, into);
    }
}

}  // namespace tamix
