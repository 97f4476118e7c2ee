#include "recording/TextFileReader.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

std::string_view Chomp(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// A text recording stores no start time, neither in its lines (times count
// from 0) nor in its info file (marker times likewise). The best record left is
// the data file's last change: the recorder appends whole lines as they come
// and completes the file at the end of the run, so that time less the recorded
// duration is when the run started. A pause makes the estimate late by its
// length; a copy that did not keep the modification time makes it the copy's.
// 0 when the time cannot be read.
int64_t EstimatedStartTime(const std::string& path, double seconds) {
    std::error_code ec;
    const auto changed = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    const auto end = std::chrono::file_clock::to_sys(changed);
    const double since1970 =
        std::chrono::duration<double>(end.time_since_epoch()).count() - seconds;
    return since1970 > 0 ? std::llround(since1970) : 0;
}

}  // namespace

int ParseTextLine(std::string_view line, std::span<double> out) {
    line = Chomp(line);
    int fields = 0;
    std::size_t p = 0;
    while (true) {
        while (p < line.size() && line[p] == ' ') ++p;
        if (p == line.size()) return fields;
        if (static_cast<std::size_t>(fields) == out.size()) return -1;
        // from_chars ignores the locale: a decimal-comma desktop reads the same.
        const char* begin = line.data() + p;
        const char* end = line.data() + line.size();
        double v = 0;
        const auto r = std::from_chars(begin, end, v);
        if (r.ec != std::errc() || (r.ptr != end && *r.ptr != ' ')) return -1;
        out[static_cast<std::size_t>(fields++)] = v;
        p = static_cast<std::size_t>(r.ptr - line.data());
    }
}

std::unique_ptr<TextFileReader> TextFileReader::Open(const std::string& path, std::string& error) {
    auto reader = std::unique_ptr<TextFileReader>(new TextFileReader());
    RecordingInfo& info = reader->info_;
    info.fileName = path;
    info.format = RecordingFormat::Text;
    std::string reason;
    if (!reader->file_.Open(path, reason)) {
        error = path + ": " + reason;
        return nullptr;
    }
    const auto bytes = reader->file_.Bytes();
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    if (bytes.empty()) {
        error = path + ": the file is empty";
        return nullptr;
    }
    reader->file_.AdviseSequential();
    int64_t lines = 0;
    uint64_t lastStart = 0;
    for (uint64_t p = 0; p < bytes.size();) {
        const auto* nl = static_cast<const char*>(std::memchr(text + p, '\n', bytes.size() - p));
        if (nl == nullptr) break;
        if ((lines & ((int64_t{1} << kIndexShift) - 1)) == 0) reader->index_.push_back(p);
        lastStart = p;
        ++lines;
        p = static_cast<uint64_t>(nl - text) + 1;
        reader->wholeBytes_ = p;
    }
    std::array<double, kMaxChannels + 2> fields{};
    const std::string_view firstLine(text, std::min<uint64_t>(bytes.size(), 4096));
    const int firstFields = ParseTextLine(firstLine.substr(0, firstLine.find('\n')), fields);
    if (firstFields < 2 || firstFields > kMaxChannels + 1) {
        error = path + ": it is not a text recording (line 1 is not a time and values)";
        return nullptr;
    }
    const double firstTime = fields[0];
    const int n = firstFields - 1;
    if (lines == 0) {
        error = path + ": the file holds no whole line (cut short before its first scan)";
        return nullptr;
    }
    if (reader->wholeBytes_ < bytes.size()) {
        info.incomplete = true;
        info.notes.push_back("The file ends inside a line; its last " +
                             std::to_string(bytes.size() - reader->wholeBytes_) +
                             " bytes are left out.");
    }
    info.scanCount = lines;
    if (lines >= 2) {
        const std::string_view last(text + lastStart, reader->wholeBytes_ - lastStart);
        if (ParseTextLine(last, fields) != firstFields) {
            error = path + ": its last line does not hold " + std::to_string(n) + " values";
            return nullptr;
        }
        // Times are printed with three decimals; the spread over the whole file
        // gives the period far more exactly than two neighbouring lines.
        const double period = (fields[0] - firstTime) / static_cast<double>(lines - 1);
        info.period = std::round(period * 1e9) / 1e9;
    }
    if (info.period <= 0)
        info.notes.push_back("The sample period is unknown (fewer than 2 lines).");
    info.startTime = EstimatedStartTime(path, static_cast<double>(lines) * info.period);
    info.startTimeEstimated = info.startTime > 0;
    info.channels.assign(static_cast<std::size_t>(n), ChannelInfo{});
    for (int k = 0; k < n; ++k) {
        info.channels[static_cast<std::size_t>(k)].inputNumber =
            RecordedInput(static_cast<std::size_t>(k), static_cast<std::size_t>(n));
        CopyText(info.channels[static_cast<std::size_t>(k)].name, "Chn" + std::to_string(k),
                 kNameChars);
    }
    reader->hasInfoFile_ = reader->ReadInfoFile(InfoFileName(path));
    if (!reader->hasInfoFile_) {
        info.incomplete = true;
        info.notes.push_back("The info file " + InfoFileName(path) +
                             " is missing: channel names and markers are unknown.");
    }
    if (info.incomplete) info.notes.emplace_back(kCutShortNote);
    NoteRecorderHold(path, info);
    return reader;
}

bool TextFileReader::ReadInfoFile(const std::string& path) {
    MappedFile infoFile;
    std::string reason;
    if (!infoFile.Open(path, reason)) return false;
    const auto bytes = infoFile.Bytes();
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t channel = 0;
    constexpr std::string_view kName = "Channel name: ";
    constexpr std::string_view kMarker = "Marker #";
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line =
            Chomp(text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.starts_with(kName)) {
            if (channel < info_.channels.size()) {
                CopyText(info_.channels[channel].name, line.substr(kName.size()), kNameChars);
            }
            ++channel;
        } else if (line.starts_with(kMarker)) {
            // "Marker #m: TEXT at T sec"; the comment may itself hold " at ".
            const std::size_t colon = line.find(": ");
            const std::size_t at = line.rfind(" at ");
            if (colon == std::string_view::npos || at == std::string_view::npos || at < colon ||
                !line.ends_with(" sec")) {
                info_.notes.push_back("The info file has a marker line it cannot read.");
                continue;
            }
            const std::string_view time = line.substr(at + 4, line.size() - at - 8);
            double seconds = 0;
            const auto r = std::from_chars(time.data(), time.data() + time.size(), seconds);
            RecordingMarker m;
            m.comment = std::string(line.substr(colon + 2, at - colon - 2));
            m.scan = (r.ec == std::errc() && info_.period > 0)
                         ? std::llround(seconds / info_.period)
                         : 0;
            info_.markers.push_back(std::move(m));
        }
    }
    if (channel != info_.channels.size()) {
        info_.notes.push_back("The info file names " + std::to_string(channel) +
                              " channels, the data file holds " +
                              std::to_string(info_.channels.size()) + ".");
    }
    return true;
}

uint64_t TextFileReader::LineStart(int64_t line) const {
    const auto bytes = file_.Bytes();
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    uint64_t p = index_[static_cast<std::size_t>(line >> kIndexShift)];
    for (int64_t skip = line & ((int64_t{1} << kIndexShift) - 1); skip > 0; --skip) {
        p = static_cast<uint64_t>(
                static_cast<const char*>(std::memchr(text + p, '\n', wholeBytes_ - p)) - text) +
            1;
    }
    return p;
}

bool TextFileReader::ReadValues(int64_t first, int64_t count, std::span<double> out) {
    const std::size_t n = info_.channels.size();
    if (first < 0 || count < 0 || first > info_.scanCount - count ||
        static_cast<uint64_t>(count) * n > out.size()) {
        error_ = info_.fileName + ": scans " + std::to_string(first) + " to " +
                 std::to_string(first + count) + " are outside the recording";
        return false;
    }
    if (count == 0) return true;
    const auto* text = reinterpret_cast<const char*>(file_.Bytes().data());
    uint64_t p = LineStart(first);
    std::array<double, kMaxChannels + 2> fields{};
    for (int64_t s = 0; s < count; ++s) {
        const auto* nl = static_cast<const char*>(std::memchr(text + p, '\n', wholeBytes_ - p));
        const auto end = static_cast<uint64_t>(nl - text) + 1;
        if (ParseTextLine({text + p, end - p}, fields) != static_cast<int>(n + 1)) {
            error_ = info_.fileName + ": line " + std::to_string(first + s + 1) +
                     " does not hold a time and " + std::to_string(n) + " values";
            return false;
        }
        std::copy_n(fields.begin() + 1, n, out.begin() + static_cast<std::ptrdiff_t>(s * n));
        p = end;
    }
    return true;
}

bool TextFileReader::ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) {
    const std::size_t values =
        static_cast<std::size_t>(std::max<int64_t>(count, 0)) * info_.channels.size();
    scratch_.resize(values);
    if (out.size() < values || !ReadValues(first, count, scratch_)) {
        if (out.size() < values) error_ = info_.fileName + ": sample buffer too small";
        return false;
    }
    for (std::size_t i = 0; i < values; ++i) {
        const double s = std::round(scratch_[i] * kCountsPerVolt);
        out[i] = static_cast<int16_t>(std::clamp(std::isnan(s) ? 0.0 : s, -32768.0, 32767.0));
    }
    return true;
}

}  // namespace tamix
