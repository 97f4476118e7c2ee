#include "recording/CsvExport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include "base/ChannelLabel.h"
#include "recording/EngineeringValue.h"
#include "recording/ExportChecks.h"

namespace tamix {
namespace {

// Enough decimals to tell neighbouring scans apart, plus three.
int TimeDecimals(double period) {
    if (period <= 0) return 3;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(period))) + 3, 3, 9);
}

void AppendFixed(std::string& out, double value, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
}

void AppendShortest(std::string& out, double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

// The text of each exported channel's value for every sample word, made the
// first time the word occurs: a WinDaq channel has at most 65536 values (2 MiB
// of texts), a recording millions of scans, and formatting a double costs
// several times more than a copy.
class ValueTexts {
  public:
    explicit ValueTexts(std::size_t channels)
        : texts_(channels * kWords), lengths_(channels * kWords, 0) {}

    void Append(std::string& out, std::size_t channel, int16_t sample, const ChannelInfo& ch) {
        const std::size_t at = channel * kWords + static_cast<uint16_t>(sample);
        if (lengths_[at] == 0) {
            const auto r = std::to_chars(texts_[at].data(), texts_[at].data() + kChars,
                                         EngineeringValue(sample, ch));
            lengths_[at] = static_cast<uint8_t>(r.ptr - texts_[at].data());
        }
        out.append(texts_[at].data(), lengths_[at]);
    }

  private:
    static constexpr std::size_t kWords = 65536;
    static constexpr std::size_t kChars = 31;  // the longest shortest double is 24
    std::vector<std::array<char, kChars>> texts_;
    std::vector<uint8_t> lengths_;
};

bool Fail(OutputFile& file, const std::string& path, std::string& error) {
    error = path + ": " + file.Error();
    return false;
}

}  // namespace

std::string MarkersCsvName(const std::string& csvName) {
    std::string base = csvName;
    if (base.size() > 4 && base.ends_with(".csv")) base.resize(base.size() - 4);
    return base + "_markers.csv";
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool ExportCsv(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               FileOpener& opener, const ProgressCallback& progress, std::string& error) {
    const RecordingInfo& info = reader.Info();
    if (!CheckExport(info, selection, ExportFormat::Csv, path, error)) return false;
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(path, error);
    if (!file) {
        error = path + ": " + error;
        return false;
    }
    std::string line = "time_s";
    for (const int k : selection.channels) {
        const auto position = static_cast<std::size_t>(k);
        line += "," + CsvField(ChannelTitle(info.channels[position], position));
    }
    line += "\n";
    if (!file->Write(line.data(), line.size())) return Fail(*file, path, error);

    const std::size_t n = info.channels.size();
    const int decimals = TimeDecimals(info.period);
    constexpr int64_t kChunk = 4096;
    // A WinDaq file's values are its samples calibrated, so their texts repeat.
    const bool bySample = info.format == RecordingFormat::WinDaq;
    std::vector<double> values(bySample ? 0 : static_cast<std::size_t>(kChunk) * n);
    std::vector<int16_t> samples(bySample ? static_cast<std::size_t>(kChunk) * n : 0);
    std::unique_ptr<ValueTexts> texts =
        bySample ? std::make_unique<ValueTexts>(selection.channels.size()) : nullptr;
    std::string text;
    const int64_t total = selection.endScan - selection.firstScan;
    for (int64_t s = selection.firstScan; s < selection.endScan; s += kChunk) {
        const int64_t count = std::min(kChunk, selection.endScan - s);
        if (bySample ? !reader.ReadSamples(s, count, samples)
                     : !reader.ReadValues(s, count, values)) {
            error = reader.Error();
            return false;
        }
        if (!bySample &&
            !CheckFiniteValues(
                info, std::span<const double>(values).first(static_cast<std::size_t>(count) * n), s,
                selection.channels, error)) {
            return false;
        }
        text.clear();
        for (int64_t i = 0; i < count; ++i) {
            AppendFixed(text, static_cast<double>(s + i) * info.period, decimals);
            const auto at = static_cast<std::size_t>(i) * n;
            for (std::size_t j = 0; j < selection.channels.size(); ++j) {
                text.push_back(',');
                const auto c = static_cast<std::size_t>(selection.channels[j]);
                if (bySample) {
                    texts->Append(text, j, samples[at + c], info.channels[c]);
                } else {
                    AppendShortest(text, values[at + c]);
                }
            }
            text.push_back('\n');
        }
        if (!file->Write(text.data(), text.size())) return Fail(*file, path, error);
        if (progress && !progress(s + count - selection.firstScan, total)) {
            error = path + ": cancelled";
            return false;
        }
    }
    if (!file->Close()) return Fail(*file, path, error);

    const std::string markersPath = MarkersCsvName(path);
    std::unique_ptr<ReplacementFile> markers = opener.CreateReplacement(markersPath, error);
    if (!markers) {
        error = markersPath + ": " + error;
        return false;
    }
    text = "scan,time_s,comment\n";
    for (const RecordingMarker& m : info.markers) {
        if (!MarkerExported(selection, m.scan)) continue;
        text += std::to_string(m.scan) + ",";
        AppendFixed(text, static_cast<double>(m.scan) * info.period, decimals);
        text += "," + CsvField(m.comment) + "\n";
    }
    if (!markers->Write(text.data(), text.size()) || !markers->Close()) {
        return Fail(*markers, markersPath, error);
    }
    // Both complete: only now does either take the place of an earlier export.
    if (!file->Commit()) return Fail(*file, path, error);
    if (!markers->Commit()) return Fail(*markers, markersPath, error);
    return true;
}

}  // namespace tamix
