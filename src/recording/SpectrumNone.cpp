// Spectra in builds without FFTW (the Windows cross build: Debian ships the
// library for Linux only): every spectrum is refused with a clear reason.
#include "recording/Spectrum.h"

namespace tamix {

bool ComputeSpectrum(RecordingReader& reader, int64_t, int64_t, std::span<const std::size_t>,
                     const ProgressCallback&, Spectrum&, std::string& error) {
    error = reader.Info().fileName + ": the spectrum is not available in this build (no FFTW)";
    return false;
}

bool SpectrumAvailable() {
    return false;
}

}  // namespace tamix
