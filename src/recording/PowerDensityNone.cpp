// Power densities in builds without FFTW (the Windows cross build: Debian ships the
// library for Linux only): every power density is refused with a clear reason.
#include "recording/PowerDensity.h"

namespace tamix {

bool ComputePowerDensity(RecordingReader& reader, int64_t, int64_t, std::span<const std::size_t>,
                         const ProgressCallback&, PowerDensity&, std::string& error) {
    error = reader.Info().fileName + ": the power density is not available in this build (no FFTW)";
    return false;
}

bool PowerDensityAvailable() {
    return false;
}

}  // namespace tamix
