#include "recording/RecordingExport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "base/MarkerTable.h"
#include "recording/EngineeringValue.h"
#include "recording/NumberFormat.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

constexpr int64_t kChunk = 4096;

bool Fail(OutputFile& file, const std::string& path, std::string& error) {
    error = path + ": " + file.Error();
    return false;
}

std::unique_ptr<OutputFile> Create(FileOpener& opener, const std::string& path,
                                   std::string& error) {
    std::unique_ptr<OutputFile> file = opener.Create(path, error);
    if (!file) error = path + ": " + error;
    return file;
}

bool CheckChannels(const ExportSelection& selection, std::string& error) {
    if (selection.channels.empty() || selection.channels.size() > kMaxChannels) {
        error = "a recording holds 1 to " + std::to_string(kMaxChannels) +
                " channels; choose them with --channels";
        return false;
    }
    return true;
}

// Reads a chunk and keeps the selected channels, as samples or as values.
class ChunkReader {
  public:
    ChunkReader(RecordingReader& reader, const ExportSelection& selection)
        : reader_(reader), selection_(selection), n_(reader.Info().channels.size()) {}

    bool Samples(int64_t first, int64_t count, std::vector<int16_t>& out) {
        all16_.resize(static_cast<std::size_t>(count) * n_);
        if (!reader_.ReadSamples(first, count, all16_)) return false;
        Pick(all16_, count, out);
        return true;
    }
    bool Values(int64_t first, int64_t count, std::vector<double>& out) {
        allValues_.resize(static_cast<std::size_t>(count) * n_);
        if (!reader_.ReadValues(first, count, allValues_)) return false;
        Pick(allValues_, count, out);
        return true;
    }

  private:
    template <typename T>
    void Pick(const std::vector<T>& all, int64_t count, std::vector<T>& out) const {
        const std::size_t m = selection_.channels.size();
        out.resize(static_cast<std::size_t>(count) * m);
        for (std::size_t s = 0; s < static_cast<std::size_t>(count); ++s) {
            for (std::size_t k = 0; k < m; ++k) {
                out[s * m + k] = all[s * n_ + static_cast<std::size_t>(selection_.channels[k])];
            }
        }
    }

    RecordingReader& reader_;
    const ExportSelection& selection_;
    std::size_t n_;
    std::vector<int16_t> all16_;
    std::vector<double> allValues_;
};

// Calibration that spreads a text channel's values over the sample range;
// values already within ±10 keep the plain volt calibration.
bool FitCalibration(RecordingReader& reader, const ExportSelection& selection,
                    std::vector<ChannelInfo>& channels, std::string& error) {
    const std::size_t m = channels.size();
    std::vector<double> lo(m, 0.0);
    std::vector<double> hi(m, 0.0);
    ChunkReader chunks(reader, selection);
    std::vector<double> values;
    for (int64_t s = selection.firstScan; s < selection.endScan; s += kChunk) {
        const int64_t count = std::min(kChunk, selection.endScan - s);
        if (!chunks.Values(s, count, values)) {
            error = reader.Error();
            return false;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            lo[i % m] = std::min(lo[i % m], values[i]);
            hi[i % m] = std::max(hi[i % m], values[i]);
        }
    }
    constexpr double kFullScale = 32767.0 / kCountsPerVolt;
    for (std::size_t k = 0; k < m; ++k) {
        if (lo[k] >= -kFullScale && hi[k] <= kFullScale) continue;
        const double half = (hi[k] - lo[k]) / 2;
        channels[k].valueAt0V = (hi[k] + lo[k]) / 2;
        channels[k].valueAt1V = half > 0 ? half / kFullScale : 1.0;
    }
    return true;
}

int16_t SampleOf(double value, const ChannelInfo& ch) {
    const double s = std::round((value - ch.valueAt0V) / ch.valueAt1V * kCountsPerVolt);
    return static_cast<int16_t>(std::clamp(std::isnan(s) ? 0.0 : s, -32768.0, 32767.0));
}

}  // namespace

bool ExportText(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
                FileOpener& opener, const ProgressCallback& progress, std::string& error) {
    if (!CheckChannels(selection, error)) return false;
    const RecordingInfo& info = reader.Info();
    const std::vector<ChannelInfo> channels = SelectedChannels(info, selection);
    std::unique_ptr<OutputFile> file = Create(opener, path, error);
    if (!file) return false;
    ChunkReader chunks(reader, selection);
    std::vector<int16_t> samples;
    std::vector<double> values;
    std::string text;
    std::array<char, kMaxTextLine> line{};
    const std::size_t m = channels.size();
    const int64_t total = selection.endScan - selection.firstScan;
    for (int64_t s = selection.firstScan; s < selection.endScan; s += kChunk) {
        const int64_t count = std::min(kChunk, selection.endScan - s);
        text.clear();
        const int64_t scan0 = s - selection.firstScan;
        if (info.format == RecordingFormat::WinDaq) {
            if (!chunks.Samples(s, count, samples)) {
                error = reader.Error();
                return false;
            }
            for (int64_t i = 0; i < count; ++i) {
                const std::span<const int16_t> row(&samples[static_cast<std::size_t>(i) * m], m);
                text.append(line.data(),
                            FormatTextLine(line.data(), scan0 + i, info.period, row, channels));
            }
        } else {
            // Text values stay as they were written: no round trip through samples.
            if (!chunks.Values(s, count, values)) {
                error = reader.Error();
                return false;
            }
            for (int64_t i = 0; i < count; ++i) {
                char* p = line.data();
                p += FormatFixed3(static_cast<double>(scan0 + i) * info.period, p);
                *p++ = ' ';
                for (std::size_t k = 0; k < m; ++k) {
                    p += FormatG4(values[static_cast<std::size_t>(i) * m + k], p);
                    *p++ = ' ';
                }
                *p++ = '\r';
                *p++ = '\n';
                text.append(line.data(), p);
            }
        }
        if (!file->Write(text.data(), text.size())) return Fail(*file, path, error);
        if (progress && !progress(s + count - selection.firstScan, total)) {
            error = path + ": cancelled";
            return false;
        }
    }
    if (!file->Close()) return Fail(*file, path, error);

    const std::string infoPath = InfoFileName(path);
    std::unique_ptr<OutputFile> infoFile = Create(opener, infoPath, error);
    if (!infoFile) return false;
    auto markers = std::make_unique<MarkerTable>();
    const int markerCount = SelectedMarkers(info, selection, *markers);
    if (!WriteInfoFile(*infoFile, channels, *markers, markerCount, info.period) ||
        !infoFile->Close()) {
        return Fail(*infoFile, infoPath, error);
    }
    return true;
}

bool ExportWdq(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               FileOpener& opener, const ProgressCallback& progress, std::string& error) {
    if (!CheckChannels(selection, error)) return false;
    const RecordingInfo& info = reader.Info();
    std::vector<ChannelInfo> channels = SelectedChannels(info, selection);
    const auto m = static_cast<int>(channels.size());
    const int64_t total = selection.endScan - selection.firstScan;
    if (total > MaxWdqScans(m)) {
        error = path + ": a WinDaq file holds at most " + std::to_string(MaxWdqScans(m)) +
                " scans of " + std::to_string(m) + " channels; choose a shorter range";
        return false;
    }
    const bool fromText = info.format == RecordingFormat::Text;
    if (fromText && !FitCalibration(reader, selection, channels, error)) return false;

    std::unique_ptr<OutputFile> file = Create(opener, path, error);
    if (!file) return false;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, total, m, info.period, channels, info.startTime);
    if (!file->Write(header.data(), header.size())) return Fail(*file, path, error);

    ChunkReader chunks(reader, selection);
    std::vector<int16_t> samples;
    std::vector<double> values;
    std::vector<uint8_t> bytes;
    uint64_t written = 0;
    for (int64_t s = selection.firstScan; s < selection.endScan; s += kChunk) {
        const int64_t count = std::min(kChunk, selection.endScan - s);
        if (fromText) {
            if (!chunks.Values(s, count, values)) {
                error = reader.Error();
                return false;
            }
            samples.resize(values.size());
            for (std::size_t i = 0; i < values.size(); ++i) {
                samples[i] = SampleOf(values[i], channels[i % channels.size()]);
            }
        } else if (!chunks.Samples(s, count, samples)) {
            error = reader.Error();
            return false;
        }
        bytes.resize(samples.size() * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) PutWdqSample(&bytes[2 * i], samples[i]);
        if (!file->Write(bytes.data(), bytes.size())) return Fail(*file, path, error);
        written += bytes.size();
        if (progress && !progress(s + count - selection.firstScan, total)) {
            error = path + ": cancelled";
            return false;
        }
    }
    auto markers = std::make_unique<MarkerTable>();
    const int markerCount = SelectedMarkers(info, selection, *markers);
    if (!WriteWdqTrailer(*file, *markers, markerCount, channels, info.startTime) ||
        !PatchWdqDataSize(*file, written) || !file->Close()) {
        return Fail(*file, path, error);
    }
    return true;
}

}  // namespace tamix
