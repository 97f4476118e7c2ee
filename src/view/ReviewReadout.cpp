#include "view/ReviewReadout.h"

#include <algorithm>

#include "recording/EngineeringValue.h"
#include "view/TimeAxis.h"
#include "view/TraceReadout.h"

namespace tamix {

bool ReadoutAtColumn(RecordingReader& reader, const ReviewViewport& view, int column,
                     ReviewReadout& out) {
    if (view.TotalScans() <= 0 || column < 0 || column >= view.Columns()) return false;
    out.scan = std::min(view.ScanAtColumn(column), view.TotalScans() - 1);
    out.seconds = static_cast<double>(out.scan) * view.Period();
    out.values.resize(reader.Info().channels.size());
    return reader.ReadValues(out.scan, 1, out.values);
}

std::string ReviewReadoutText(const ReviewReadout& readout, std::span<const ChannelInfo> channels) {
    std::string text = "t = " + TimeLabel(readout.seconds, 0.001);
    const std::size_t n = std::min(channels.size(), readout.values.size());
    for (std::size_t k = 0; k < n; ++k) {
        text += "   ";
        text += channels[k].Name();
        text += " = " + FormatValue(readout.values[k], channels[k].Unit());
    }
    return text;
}

ChannelInfo DisplayCalibration(const ChannelInfo& channel, RecordingFormat format, double lo,
                               double hi) {
    ChannelInfo shown = channel;
    if (format == RecordingFormat::WinDaq) return shown;
    constexpr double kFullScale = 32767.0 / kCountsPerVolt;
    shown.valueAt1V = 1.0;
    shown.valueAt0V = 0.0;
    if (lo >= -kFullScale && hi <= kFullScale) return shown;
    const double half = (hi - lo) / 2;
    shown.valueAt0V = (hi + lo) / 2;
    shown.valueAt1V = half > 0 ? half / kFullScale : 1.0;
    return shown;
}

double DisplaySample(double value, const ChannelInfo& channel) {
    if (channel.valueAt1V == 0) return 0;
    return (value - channel.valueAt0V) / channel.valueAt1V * kCountsPerVolt;
}

}  // namespace tamix
