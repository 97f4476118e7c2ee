#include "recording/RecordingExport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/MarkerTable.h"
#include "recording/ExportChecks.h"
#include "recording/ExportSamples.h"
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

std::unique_ptr<ReplacementFile> Create(FileOpener& opener, const std::string& path,
                                        std::string& error) {
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(path, error);
    if (!file) error = path + ": " + error;
    return file;
}

bool Check(const RecordingInfo& info, const ExportSelection& selection, ExportFormat format,
           const std::string& path, std::string& error) {
    if (selection.channels.empty() || selection.channels.size() > kMaxChannels) {
        error = "a recording holds 1 to " + std::to_string(kMaxChannels) +
                " channels; choose them with --channels";
        return false;
    }
    return CheckExport(info, selection, format, path, error);
}

// A text file stores no start time; readers estimate it from the file's last
// change less its duration (TextFileReader). The exported file is given the
// change time that makes that estimate the start of its first scan. Files
// that are not on disk (a test's opener) are left alone.
void KeepStartTime(const std::string& path, const RecordingInfo& info,
                   const ExportSelection& selection) {
    if (info.startTime <= 0) return;
    namespace chrono = std::chrono;
    const double end =
        static_cast<double>(info.startTime) + static_cast<double>(selection.endScan) * info.period;
    const chrono::sys_time<chrono::milliseconds> at{chrono::milliseconds{std::llround(end * 1e3)}};
    std::error_code ec;
    std::filesystem::last_write_time(path, chrono::file_clock::from_sys(at), ec);
}

}  // namespace

bool ExportText(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
                FileOpener& opener, const ProgressCallback& progress, std::string& error) {
    const RecordingInfo& info = reader.Info();
    if (!Check(info, selection, ExportFormat::Text, path, error)) return false;
    const std::vector<ChannelInfo> channels = SelectedChannels(info, selection);
    std::unique_ptr<ReplacementFile> file = Create(opener, path, error);
    if (!file) return false;
    ExportSamples chunks(reader, selection, ExportFormat::Text);
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
            if (!chunks.Samples(s, count, samples, error)) return false;
            for (int64_t i = 0; i < count; ++i) {
                const std::span<const int16_t> row(&samples[static_cast<std::size_t>(i) * m], m);
                text.append(line.data(),
                            FormatTextLine(line.data(), scan0 + i, info.period, row, channels));
            }
        } else {
            // Text values stay as they were written: no round trip through samples.
            if (!chunks.Values(s, count, values, error)) return false;
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
    std::unique_ptr<ReplacementFile> infoFile = Create(opener, infoPath, error);
    if (!infoFile) return false;
    auto markers = std::make_unique<MarkerTable>();
    const int markerCount = SelectedMarkers(info, selection, *markers);
    if (!WriteInfoFile(*infoFile, channels, *markers, markerCount, info.period) ||
        !infoFile->Close()) {
        return Fail(*infoFile, infoPath, error);
    }
    // Both complete: only now does either take the place of an earlier export.
    if (!file->Commit()) return Fail(*file, path, error);
    if (!infoFile->Commit()) return Fail(*infoFile, infoPath, error);
    KeepStartTime(path, info, selection);
    return true;
}

bool ExportWdq(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               FileOpener& opener, const ProgressCallback& progress, std::string& error) {
    const RecordingInfo& info = reader.Info();
    if (!Check(info, selection, ExportFormat::WinDaq, path, error)) return false;
    ExportSamples source(reader, selection);
    const auto m = static_cast<int>(selection.channels.size());
    const int64_t total = selection.endScan - selection.firstScan;
    if (total > MaxWdqScans(m)) {
        error = path + ": a WinDaq file holds at most " + std::to_string(MaxWdqScans(m)) +
                " scans of " + std::to_string(m) + " channels; choose a shorter range";
        return false;
    }
    if (!source.Prepare(error)) return false;
    const std::vector<ChannelInfo>& channels = source.Channels();

    std::unique_ptr<ReplacementFile> file = Create(opener, path, error);
    if (!file) return false;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, total, m, info.period, channels, info.startTime);
    if (!file->Write(header.data(), header.size())) return Fail(*file, path, error);

    std::vector<int16_t> samples;
    std::vector<uint8_t> bytes;
    uint64_t written = 0;
    for (int64_t s = selection.firstScan; s < selection.endScan; s += kChunk) {
        const int64_t count = std::min(kChunk, selection.endScan - s);
        if (!source.Samples(s, count, samples, error)) return false;
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
        !PatchWdqDataSize(*file, written) || !file->Close() || !file->Commit()) {
        return Fail(*file, path, error);
    }
    return true;
}

}  // namespace tamix
