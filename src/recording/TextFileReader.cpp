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
#include "recording/MarkerJournalReader.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

// Bytes read at once: the index pass, and the window reads of lines come from.
constexpr std::size_t kIndexChunk = std::size_t{1} << 20;
constexpr std::size_t kWindowBytes = std::size_t{256} << 10;
// The first line is looked for in this many bytes; no recorder writes longer.
constexpr std::size_t kFirstLineBytes = 4096;
// An info file holds channel names and at most a few thousand markers.
constexpr uint64_t kMaxInfoBytes = uint64_t{16} << 20;

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

std::span<uint8_t> Bytes(std::vector<char>& buffer, std::size_t size) {
    return {reinterpret_cast<uint8_t*>(buffer.data()), size};
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

// One pass over the file from the end of the lines indexed so far: where
// every 1024th line starts, the start of the last whole line, and where the
// whole lines end.
bool TextFileReader::IndexLines(std::string& reason) {
    const uint64_t size = file_.Size();
    std::vector<char> chunk(
        static_cast<std::size_t>(std::min<uint64_t>(size - wholeBytes_, kIndexChunk)));
    int64_t lines = info_.scanCount;
    uint64_t lineStart = wholeBytes_;
    for (uint64_t at = wholeBytes_; at < size;) {
        const auto got = static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), size - at));
        if (!file_.ReadAt(at, Bytes(chunk, got), reason)) return false;
        for (const char* p = chunk.data(); p < chunk.data() + got;) {
            const auto* nl = static_cast<const char*>(
                std::memchr(p, '\n', static_cast<std::size_t>(chunk.data() + got - p)));
            if (nl == nullptr) break;
            if ((lines & ((int64_t{1} << kIndexShift) - 1)) == 0) index_.push_back(lineStart);
            lastStart_ = lineStart;
            ++lines;
            lineStart = at + static_cast<uint64_t>(nl - chunk.data()) + 1;
            p = nl + 1;
        }
        at += got;
    }
    wholeBytes_ = lineStart;
    info_.scanCount = lines;
    return true;
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
    const uint64_t size = reader->file_.Size();
    // A run's first lines reach the disk at its first checkpoint, a second in.
    const auto notYet = [&] {
        return HeldByRecorder(path) ? path + ": " + std::string(kNoScanYetReason) : std::string();
    };
    if (size == 0) {
        error = notYet();
        if (error.empty()) error = path + ": the file is empty";
        return nullptr;
    }
    reader->file_.AdviseSequential();
    std::vector<char> head(static_cast<std::size_t>(std::min<uint64_t>(size, kFirstLineBytes)));
    if (!reader->file_.ReadAt(0, Bytes(head, head.size()), reason) || !reader->IndexLines(reason)) {
        error = path + ": " + reason;
        return nullptr;
    }
    std::array<double, kMaxChannels + 2> fields{};
    const std::string_view firstLine(head.data(), head.size());
    const int firstFields = ParseTextLine(firstLine.substr(0, firstLine.find('\n')), fields);
    if (firstFields < 2 || firstFields > kMaxChannels + 1) {
        error = path + ": it is not a text recording (line 1 is not a time and values)";
        return nullptr;
    }
    reader->firstTime_ = fields[0];
    reader->fields_ = firstFields;
    if (info.scanCount == 0) {
        error = notYet();
        if (error.empty())
            error = path + ": the file holds no whole line (cut short before its first scan)";
        return nullptr;
    }
    reader->nextLine_ = 0;
    if (!reader->Describe()) {
        error = reader->error_;
        return nullptr;
    }
    return reader;
}

// What the lines indexed so far and the info file say about the recording.
bool TextFileReader::Describe() {
    RecordingInfo& info = info_;
    const std::string& path = info.fileName;
    const int64_t lines = info.scanCount;
    const int n = fields_ - 1;
    info.notes.clear();
    info.markers.clear();
    info.incomplete = false;
    info.markerJournal.clear();
    if (wholeBytes_ < file_.Size()) {
        info.incomplete = true;
        info.notes.push_back("The file ends inside a line; its last " +
                             std::to_string(file_.Size() - wholeBytes_) + " bytes are left out.");
    }
    if (lines >= 2) {
        std::string_view last;
        std::array<double, kMaxChannels + 2> fields{};
        if (!LineAt(lastStart_, last)) return false;
        if (ParseTextLine(last, fields) != fields_) {
            error_ = path + ": its last line does not hold " + std::to_string(n) + " values";
            return false;
        }
        // Times are printed with three decimals; the spread over the whole file
        // gives the period far more exactly than two neighbouring lines.
        const double period = (fields[0] - firstTime_) / static_cast<double>(lines - 1);
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
    hasInfoFile_ = ReadInfoFile(InfoFileName(path));
    if (!hasInfoFile_) {
        info.incomplete = true;
        info.notes.push_back("The info file " + InfoFileName(path) +
                             " is missing: channel names and markers are unknown.");
    }
    if (info.incomplete) info.notes.emplace_back(kCutShortNote);
    NoteRecorderHold(path, info);
    TakeMarkerJournal(path, info);
    return true;
}

// The recorder appends whole lines and flushes them once a second; a line
// still being written lies beyond the whole lines and waits for the next call.
// The period is worked out anew from the longer spread of times.
bool TextFileReader::Refresh(bool& grew) {
    grew = false;
    if (!info_.beingRecorded) return true;
    const int64_t scans = info_.scanCount;
    const std::size_t markers = info_.markers.size();
    const bool held = HeldByRecorder(info_.fileName);
    std::string reason;
    if (!file_.Grow(reason) || !IndexLines(reason)) {
        error_ = info_.fileName + ": " + reason;
        return false;
    }
    if (!Describe()) return false;
    // Completed while it was read: the info file may have been written after
    // the lines were read, so read them once more as they now stand.
    if (held && !info_.beingRecorded) AwaitJournalEnd(info_.fileName);
    if (held && !info_.beingRecorded &&
        (!file_.Grow(reason) || !IndexLines(reason) || !Describe())) {
        if (!reason.empty()) error_ = info_.fileName + ": " + reason;
        return false;
    }
    grew = info_.scanCount != scans || info_.markers.size() != markers || !info_.beingRecorded;
    return true;
}

bool TextFileReader::ReadInfoFile(const std::string& path) {
    ReadOnlyFile infoFile;
    std::string reason;
    if (!infoFile.Open(path, reason)) return false;
    std::vector<char> bytes(static_cast<std::size_t>(std::min(infoFile.Size(), kMaxInfoBytes)));
    if (!infoFile.ReadAt(0, Bytes(bytes, bytes.size()), reason)) return false;
    std::string_view text(bytes.data(), bytes.size());
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

bool TextFileReader::ReadBytes(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (!file_.ReadAt(offset, out, error)) {
        error = info_.fileName + ": " + error;
        return false;
    }
    return true;
}

bool TextFileReader::LineAt(uint64_t p, std::string_view& line) {
    const auto find = [&]() -> const char* {
        if (p < windowStart_ || p >= windowStart_ + windowBytes_) return nullptr;
        const char* from = window_.data() + (p - windowStart_);
        return static_cast<const char*>(std::memchr(
            from, '\n', static_cast<std::size_t>(window_.data() + windowBytes_ - from)));
    };
    const char* nl = find();
    if (nl == nullptr) {
        // Refill the window from the line's start.
        window_.resize(kWindowBytes);
        windowStart_ = p;
        windowBytes_ = static_cast<std::size_t>(std::min<uint64_t>(kWindowBytes, wholeBytes_ - p));
        std::string reason;
        if (!file_.ReadAt(p, Bytes(window_, windowBytes_), reason)) {
            windowBytes_ = 0;
            error_ = info_.fileName + ": " + reason;
            return false;
        }
        nl = find();
    }
    if (nl == nullptr) {
        // Every whole line ended in a line feed when the file was opened.
        error_ = info_.fileName + ": " +
                 (windowBytes_ < kWindowBytes
                      ? std::string(kFileChangedReason)
                      : "a line of more than " + std::to_string(kWindowBytes) + " bytes");
        windowBytes_ = 0;
        return false;
    }
    const char* from = window_.data() + (p - windowStart_);
    line = std::string_view(from, static_cast<std::size_t>(nl + 1 - from));
    return true;
}

bool TextFileReader::LineStart(int64_t line, uint64_t& p) {
    if (line == nextLine_) {
        p = nextLineStart_;
        return true;
    }
    p = index_[static_cast<std::size_t>(line >> kIndexShift)];
    for (int64_t skip = line & ((int64_t{1} << kIndexShift) - 1); skip > 0; --skip) {
        std::string_view text;
        if (!LineAt(p, text)) return false;
        p += text.size();
    }
    return true;
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
    uint64_t p = 0;
    if (!LineStart(first, p)) return false;
    std::array<double, kMaxChannels + 2> fields{};
    for (int64_t s = 0; s < count; ++s) {
        std::string_view line;
        if (!LineAt(p, line)) return false;
        if (ParseTextLine(line, fields) != static_cast<int>(n + 1)) {
            error_ = info_.fileName + ": line " + std::to_string(first + s + 1) +
                     " does not hold a time and " + std::to_string(n) + " values";
            return false;
        }
        std::copy_n(fields.begin() + 1, n, out.begin() + static_cast<std::ptrdiff_t>(s * n));
        p += line.size();
    }
    nextLine_ = first + count;
    nextLineStart_ = p;
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
