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

std::string ReviewTimeText(const ReviewReadout& readout) {
    return "t = " + TimeLabel(readout.seconds, 0.001);
}

std::string ReviewValueText(const ReviewReadout& readout, std::size_t k,
                            std::span<const ChannelInfo> channels) {
    if (k >= readout.values.size() || k >= channels.size()) return {};
    return "= " + FormatValue(readout.values[k], channels[k].Unit());
}

int ColourSlot(const ChannelInfo& channel, std::size_t position) {
    if (channel.inputNumber >= 0 && channel.inputNumber < kMaxChannels) return channel.inputNumber;
    return static_cast<int>(position % kMaxChannels);
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
