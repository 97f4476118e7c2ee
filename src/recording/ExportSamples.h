// The samples an export writes for the chosen channels, with the calibration
// that goes with them: a WinDaq recording's own samples, or a text recording's
// values stored under a calibration fitted to their range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ChannelInfo.h"
#include "recording/ExportFormat.h"
#include "recording/ExportSelection.h"
#include "recording/RecordingReader.h"

namespace tamix {

// Lives for one export; uses the reader it was made with.
class ExportSamples {
  public:
    // `format` is the output's: it decides which values can be written.
    ExportSamples(RecordingReader& reader, const ExportSelection& selection,
                  ExportFormat format = ExportFormat::Csv);

    // Finds the calibration (one pass over a text recording). False with `error`.
    bool Prepare(std::string& error);
    const std::vector<ChannelInfo>& Channels() const { return channels_; }

    // Scans [first, first + count) of the chosen channels, interleaved.
    bool Samples(int64_t first, int64_t count, std::vector<int16_t>& out, std::string& error);
    bool Values(int64_t first, int64_t count, std::vector<double>& out, std::string& error);

  private:
    template <typename T>
    void Pick(const std::vector<T>& all, int64_t count, std::vector<T>& out) const;

    RecordingReader& reader_;
    const ExportSelection& selection_;
    ExportFormat format_;
    std::size_t n_;
    std::vector<ChannelInfo> channels_;
    std::vector<int16_t> all16_;
    std::vector<double> allValues_;
    std::vector<double> picked_;
};

}  // namespace tamix
