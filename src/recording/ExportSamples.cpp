#include "recording/ExportSamples.h"

#include <algorithm>
#include <cmath>

#include "recording/EngineeringValue.h"
#include "recording/ExportChecks.h"

namespace tamix {
namespace {

constexpr int64_t kChunk = 4096;

int16_t SampleOf(double value, const ChannelInfo& ch) {
    const double s = std::round((value - ch.valueAt0V) / ch.valueAt1V * kCountsPerVolt);
    return static_cast<int16_t>(std::clamp(std::isnan(s) ? 0.0 : s, -32768.0, 32767.0));
}

}  // namespace

ExportSamples::ExportSamples(RecordingReader& reader, const ExportSelection& selection,
                             ExportFormat format)
    : reader_(reader),
      selection_(selection),
      format_(format),
      n_(reader.Info().channels.size()),
      channels_(SelectedChannels(reader.Info(), selection)) {}

template <typename T>
void ExportSamples::Pick(const std::vector<T>& all, int64_t count, std::vector<T>& out) const {
    const std::size_t m = selection_.channels.size();
    out.resize(static_cast<std::size_t>(count) * m);
    for (std::size_t s = 0; s < static_cast<std::size_t>(count); ++s) {
        for (std::size_t k = 0; k < m; ++k) {
            out[s * m + k] = all[s * n_ + static_cast<std::size_t>(selection_.channels[k])];
        }
    }
}

bool ExportSamples::Values(int64_t first, int64_t count, std::vector<double>& out,
                           std::string& error) {
    allValues_.resize(static_cast<std::size_t>(count) * n_);
    if (!reader_.ReadValues(first, count, allValues_)) {
        error = reader_.Error();
        return false;
    }
    if (!CheckFiniteValues(reader_.Info(), allValues_, first, selection_.channels, error,
                           format_)) {
        return false;
    }
    Pick(allValues_, count, out);
    return true;
}

bool ExportSamples::Samples(int64_t first, int64_t count, std::vector<int16_t>& out,
                            std::string& error) {
    if (reader_.Info().format == RecordingFormat::WinDaq) {
        all16_.resize(static_cast<std::size_t>(count) * n_);
        if (!reader_.ReadSamples(first, count, all16_)) {
            error = reader_.Error();
            return false;
        }
        Pick(all16_, count, out);
        return true;
    }
    if (!Values(first, count, picked_, error)) return false;
    out.resize(picked_.size());
    for (std::size_t i = 0; i < picked_.size(); ++i) {
        out[i] = SampleOf(picked_[i], channels_[i % channels_.size()]);
    }
    return true;
}

bool ExportSamples::Prepare(std::string& error) {
    if (reader_.Info().format == RecordingFormat::WinDaq || channels_.empty()) return true;
    // Text files carry no calibration: values within ±10 keep the plain volt
    // calibration, wider ones are spread over the sample range.
    const std::size_t m = channels_.size();
    std::vector<double> lo(m, 0.0);
    std::vector<double> hi(m, 0.0);
    for (int64_t s = selection_.firstScan; s < selection_.endScan; s += kChunk) {
        if (!Values(s, std::min(kChunk, selection_.endScan - s), picked_, error)) return false;
        for (std::size_t i = 0; i < picked_.size(); ++i) {
            lo[i % m] = std::min(lo[i % m], picked_[i]);
            hi[i % m] = std::max(hi[i % m], picked_[i]);
        }
    }
    constexpr double kFullScale = 32767.0 / kCountsPerVolt;
    for (std::size_t k = 0; k < m; ++k) {
        if (lo[k] >= -kFullScale && hi[k] <= kFullScale) continue;
        // Halved first: the span of two huge values of opposite sign overflows.
        const double half = hi[k] / 2 - lo[k] / 2;
        channels_[k].valueAt0V = hi[k] / 2 + lo[k] / 2;
        channels_[k].valueAt1V = half > 0 ? half / kFullScale : 1.0;
    }
    return true;
}

}  // namespace tamix
