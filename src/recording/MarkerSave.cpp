#include "recording/MarkerSave.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/ByteCopy.h"
#include "recording/MarkerTableOf.h"
#include "recording/NumberFormat.h"
#include "recording/OpenRecording.h"
#include "recording/ReadOnlyFile.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"
#include "recording/Windows1252Text.h"

namespace tamix {
namespace {

// An info file holds channel names and at most a few hundred markers; the
// reader reads no more than this either.
constexpr uint64_t kMaxInfoBytes = uint64_t{16} << 20;
constexpr uint64_t kEventBytesOffset = 12;
constexpr uint64_t kAnnotationBytesOffset = 16;

std::string BeingRecorded(const std::string& path) {
    return path + ": it is being recorded; edit its markers once the recording has ended";
}

std::string MarkerName(std::size_t m) {
    return "marker " + std::to_string(m);
}

// What in `comment` a recording of `format` cannot store, or empty.
std::string UnstorablePart(std::string_view comment, RecordingFormat format) {
    for (std::size_t p = 0; p < comment.size();) {
        const std::string_view character = Utf8Prefix(comment.substr(p), 1, 4);
        if (character.empty()) break;
        p += character.size();
        const auto lead = static_cast<unsigned char>(character[0]);
        if (character.size() == 1 && lead >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", lead);
            return std::string("the byte ") + hex + ", which is no UTF-8 text";
        }
        if (lead == 0) return "a NUL character, which would end it";
        if (format == RecordingFormat::Text && (lead == '\r' || lead == '\n')) {
            return "a line break, which a marker line of the info file cannot hold";
        }
        if (format == RecordingFormat::WinDaq &&
            FromWindows1252(ToWindows1252(character)) != character) {
            return "\"" + std::string(character) +
                   "\", which a WinDaq file cannot store (its comments are Windows-1252)";
        }
    }
    return {};
}

// Whether the info file's time of `scan` ("%.3lf" seconds) reads back as that scan.
bool TextTimeKeepsScan(int64_t scan, double period) {
    char number[kMaxNumberChars];
    const std::size_t length = FormatFixed3(static_cast<double>(scan) * period, number);
    double seconds = 0;
    const auto r = std::from_chars(number, number + length, seconds);
    return r.ec == std::errc() && std::llround(seconds / period) == scan;
}

bool CheckMarkers(const RecordingInfo& info, std::span<const RecordingMarker> markers,
                  std::string& error) {
    const std::string& path = info.fileName;
    if (markers.size() > static_cast<std::size_t>(kMaxMarkers)) {
        error = path + ": " + std::to_string(markers.size()) + " markers, more than the " +
                std::to_string(kMaxMarkers) + " a recording keeps";
        return false;
    }
    // An event area of no marker reads as one at scan 0, and one of no bytes
    // as a file that was never closed.
    if (markers.empty() && info.format == RecordingFormat::WinDaq) {
        error = path + ": a WinDaq file keeps at least one marker";
        return false;
    }
    for (std::size_t m = 0; m < markers.size(); ++m) {
        const RecordingMarker& marker = markers[m];
        // Readers of the format take a pointer of -scanCount or below for a
        // comment's, so a marker must lie on a scan; scan 0 is stored as a
        // time stamp instead and always may.
        if (marker.scan < 0 || (marker.scan >= info.scanCount && marker.scan != 0)) {
            error = path + ": " + MarkerName(m) + " lies at scan " + std::to_string(marker.scan) +
                    ", outside the recording's " + std::to_string(info.scanCount) +
                    " scans (0 to " + std::to_string(info.scanCount - 1) + ")";
            return false;
        }
        const std::size_t characters = Utf8Length(marker.comment);
        if (characters > kCommentChars) {
            error = path + ": " + MarkerName(m) + "'s comment has " + std::to_string(characters) +
                    " characters, more than the " + std::to_string(kCommentChars) +
                    " a marker keeps";
            return false;
        }
        const std::string unstorable = UnstorablePart(marker.comment, info.format);
        if (!unstorable.empty()) {
            error = path + ": " + MarkerName(m) + "'s comment holds ";
            error += unstorable;
            return false;
        }
        if (info.format == RecordingFormat::Text && marker.scan > 0 &&
            (info.period <= 0 || !TextTimeKeepsScan(marker.scan, info.period))) {
            error =
                path + ": " + MarkerName(m) + " at scan " + std::to_string(marker.scan) +
                (info.period <= 0 ? " cannot be placed: the recording's sample period is unknown"
                                  : " cannot be told from its neighbours in the info file's "
                                    "times of three decimals");
            return false;
        }
    }
    return true;
}

// The recording at `path` as it may take new markers; nullptr with `error`.
std::unique_ptr<RecordingReader> OpenFinished(const std::string& path,
                                              std::span<const RecordingMarker> markers,
                                              std::string& error) {
    // Markers of a chain lie in the files whose scans they mark, counted from
    // each file's first scan: the whole run's list is no file's to replace.
    if (auto whole = OpenRecording(path, error); whole && whole->Info().chainFiles.size() > 1) {
        error = path + ": it is one of a chain of " +
                std::to_string(whole->Info().chainFiles.size()) +
                " files read as one recording, whose markers cannot be saved into one file";
        return nullptr;
    }
    auto recording = OpenRecording(path, error, RecordingScope::ThisFile);
    if (!recording) return nullptr;
    const RecordingInfo& info = recording->Info();
    if (info.beingRecorded) {
        error = BeingRecorded(path);
        return nullptr;
    }
    if (info.incomplete) {
        error =
            path + ": it was cut short; repair it first (tamix-file repair), then edit its markers";
        return nullptr;
    }
    if (!CheckMarkers(info, markers, error)) return nullptr;
    return recording;
}

uint32_t Le(std::span<const uint8_t> b, uint64_t offset, std::size_t bytes) {
    uint32_t v = 0;
    for (std::size_t i = bytes; i-- > 0;) v = (v << 8) | b[offset + i];
    return v;
}

// The same header and samples, byte for byte, then the new trailer; the
// channel names of the old trailer are kept as stored.
bool WriteWdq(const WdqFileReader& original, std::span<const RecordingMarker> markers,
              ReplacementFile& file, std::string& error) {
    const RecordingInfo& info = original.Info();
    const WdqLayout& layout = original.Layout();
    if (!layout.hasTrailer) {
        error =
            info.fileName + ": its trailer is not one this program reads, so it is not replaced";
        return false;
    }
    std::vector<uint8_t> header(layout.headerBytes);
    if (!original.ReadBytes(0, header, error)) return false;
    const uint64_t eventBytes = Le(header, kEventBytesOffset, 4);
    const uint64_t annotationBytes = Le(header, kAnnotationBytesOffset, 2);
    std::string annotations(annotationBytes, '\0');
    if (!original.ReadBytes(
            layout.trailerOffset + eventBytes,
            std::span(reinterpret_cast<uint8_t*>(annotations.data()), annotations.size()), error)) {
        return false;
    }
    const ByteReader read = [&original](uint64_t offset, std::span<uint8_t> out, std::string& why) {
        return original.ReadBytes(offset, out, why);
    };
    const auto table = MarkerTableOf(markers, info.startTime);
    const bool ok =
        file.Write(header.data(), header.size()) &&
        CopyBytes(read, layout.dataOffset, layout.trailerOffset - layout.dataOffset, file, error) &&
        WriteWdqTrailerWithAnnotations(file, *table, table->markerCount.load(), annotations,
                                       info.startTime) &&
        file.Close();
    if (!ok && error.empty()) error = info.fileName + ": " + file.Error();
    return ok;
}

// The info file's lines other than its markers (the channel names), as they
// stand; false with `error`.
bool LinesBesideMarkers(const std::string& infoPath, std::string& lines, std::string& error) {
    ReadOnlyFile file;
    std::string reason;
    if (!file.Open(infoPath, reason)) {
        error = infoPath + ": " + reason;
        return false;
    }
    if (file.Size() > kMaxInfoBytes) {
        error = infoPath + ": it holds " + std::to_string(file.Size()) +
                " bytes, more than an info file of channel names and markers";
        return false;
    }
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    if (!file.ReadAt(0, std::span(reinterpret_cast<uint8_t*>(text.data()), text.size()), reason)) {
        error = infoPath + ": " + reason;
        return false;
    }
    lines.clear();
    for (std::size_t p = 0; p < text.size();) {
        const std::size_t nl = text.find('\n', p);
        const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        const std::string_view line(text.data() + p, end - p);
        p = end;
        if (line.starts_with("Marker #")) continue;
        lines += line;
        if (!line.ends_with('\n')) lines += "\r\n";
    }
    return true;
}

// The info file of the text recording at `path` with its lines as they stand
// and `markers` in place of its own.
bool SaveInfoFile(const std::string& path, std::span<const RecordingMarker> markers, double period,
                  FileOpener& opener, std::string& error) {
    const std::string infoPath = InfoFileName(path);
    std::string kept;
    if (!LinesBesideMarkers(infoPath, kept, error)) return false;
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(infoPath, error);
    if (!file) {
        error = infoPath + ": " + error;
        return false;
    }
    const auto table = MarkerTableOf(markers, 0);
    const bool ok = file->Write(kept.data(), kept.size()) &&
                    WriteInfoFile(*file, {}, *table, table->markerCount.load(), period) &&
                    file->Close() && file->Commit();
    if (!ok) error = infoPath + ": " + file->Error();
    return ok;
}

}  // namespace

bool SaveRecordingMarkers(const std::string& path, std::span<const RecordingMarker> markers,
                          FileOpener& opener, std::string& error) {
    // The recorder's lock before anything else, held until the new file is in
    // place: no recording can be going on on the file, or begin, meanwhile. A
    // text recording's data file keeps every byte: its replacement is only
    // held for the lock, never put in place.
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(path, error);
    if (!file) {
        error = error == kBeingRecordedReason ? BeingRecorded(path) : path + ": " + error;
        return false;
    }
    auto recording = OpenFinished(path, markers, error);
    if (!recording) return false;
    if (recording->Info().format == RecordingFormat::Text) {
        const double period = recording->Info().period;
        recording.reset();
        return SaveInfoFile(path, markers, period, opener, error);
    }
    if (!WriteWdq(static_cast<const WdqFileReader&>(*recording), markers, *file, error)) {
        return false;
    }
    // Some systems keep an open file from being replaced.
    recording.reset();
    if (!file->Commit()) {
        error = path + ": " + file->Error();
        return false;
    }
    return true;
}

bool SaveRecordingMarkers(const std::string& path, std::span<const RecordingMarker> markers,
                          std::string& error) {
    return SaveRecordingMarkers(path, markers, DefaultFileOpener(), error);
}

}  // namespace tamix
