#include "recording/WdqFileReader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
#include "recording/MarkerJournalReader.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"
#include "recording/Windows1252Text.h"

namespace tamix {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the sample copy assumes a little-endian host, as the file is");

template <typename T>
T Get(std::span<const uint8_t> b, uint64_t offset) {
    T v{};
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// A NUL-terminated text starting at `offset`, never reaching `end`.
std::string_view CText(std::span<const uint8_t> b, uint64_t offset, uint64_t end) {
    if (offset >= end) return {};
    const auto* start = reinterpret_cast<const char*>(b.data() + offset);
    const auto* nul = static_cast<const char*>(std::memchr(start, 0, end - offset));
    return {start, nul != nullptr ? static_cast<std::size_t>(nul - start) : end - offset};
}

std::span<uint8_t> Bytes(std::span<int16_t> words) {
    return {reinterpret_cast<uint8_t*>(words.data()), words.size() * sizeof(int16_t)};
}

std::string DefaultName(std::size_t position) {
    return "Chn" + std::to_string(position);
}

constexpr uint16_t kHiResBit = 0x0002;
constexpr uint16_t kPackedBit = 0x4000;
constexpr uint64_t kFixedHeader = 110;     // the fields before the first channel entry
constexpr uint64_t kOpenedAt = 36;         // when the writer opened the file
constexpr uint64_t kEndMarkBytes = 2;      // the word that closes the header
constexpr uint64_t kChannelEntryUse = 30;  // calibration and unit: bytes 0..29 of an entry
constexpr std::size_t kWdqUnitChars = 5;   // the format's unit field holds five characters
// A trailer beyond this is no marker list a recorder wrote; it is left out
// rather than read into memory.
constexpr uint64_t kMaxTrailerBytes = uint64_t{64} << 20;

// `b` holds the trailer: the event area from its first byte, the annotations
// after it and the comments after those, up to the end of the file.
void ParseTrailer(std::span<const uint8_t> b, uint64_t eventBytes, uint64_t annotationBytes,
                  RecordingInfo& info) {
    const uint64_t annotations = eventBytes;
    const uint64_t names = annotations + annotationBytes;
    uint64_t p = annotations;
    for (std::size_t i = 0; i < info.channels.size() && p < names; ++i) {
        const std::string_view text = CText(b, p, names);
        p += text.size() + 1;
        if (!text.empty()) {
            CopyText(info.channels[i].name, FromWindows1252(text), kNameChars);
        }
    }
    // Pointers are negated scan numbers; a pointer >= 0 carries a time stamp in
    // the next word; a word beyond every scan with bit 31 set points at the
    // comment of the marker before it, counting from the annotation area.
    const int64_t scans = info.scanCount;
    for (uint64_t q = 0; q + 4 <= annotations;) {
        const auto v = Get<int32_t>(b, q);
        q += 4;
        if (v < 0 && -static_cast<int64_t>(v) > scans) {
            if (info.markers.empty()) {
                info.notes.push_back("A marker comment pointer comes before any marker.");
                continue;
            }
            const uint64_t offset = static_cast<uint32_t>(v) & 0x7FFFFFFFu;
            if (annotations + offset >= b.size()) {
                info.notes.push_back("Marker " + std::to_string(info.markers.size() - 1) +
                                     " has a comment beyond the end of the file.");
                continue;
            }
            info.markers.back().comment = FromWindows1252(CText(b, annotations + offset, b.size()));
            continue;
        }
        RecordingMarker m;
        if (v >= 0) {
            m.scan = v;
            if (q + 4 <= annotations) {
                m.timeStamp = Get<uint32_t>(b, q);
                q += 4;
            }
        } else {
            m.scan = -static_cast<int64_t>(v);
        }
        info.markers.push_back(std::move(m));
    }
}

}  // namespace

int WdqChannelCount(uint8_t byte0, uint8_t byte1) {
    return byte1 == 0 ? (byte0 & 0x1F) : byte0;
}

bool ParseWdqFile(uint64_t size, const WdqByteSource& read, RecordingInfo& info, WdqLayout& layout,
                  std::string& reason) {
    if (size == 0) {
        reason = "the file is empty";
        return false;
    }
    if (size < kFixedHeader) {
        reason = "the file ends inside its header (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::vector<uint8_t> head(kFixedHeader);
    if (!read(0, head, reason)) return false;
    const int n = WdqChannelCount(head[0], head[1]);
    const uint8_t entryOffset = head[4];
    const uint8_t entrySize = head[5];
    const auto headerBytes = Get<uint16_t>(head, 6);
    // The header says where its channel entries lie; all of them, and the word
    // that closes the header, must fit in it.
    if (n < 1 || entrySize < kChannelEntryUse || entryOffset < kFixedHeader ||
        uint64_t{entryOffset} + uint64_t{entrySize} * static_cast<uint64_t>(n) + kEndMarkBytes >
            headerBytes) {
        reason = "it is not a WinDaq file (its header does not describe channels)";
        return false;
    }
    if (headerBytes > size) {
        reason = "the file ends inside its header (" + std::to_string(size) + " of " +
                 std::to_string(headerBytes) + " bytes)";
        return false;
    }
    head.resize(headerBytes);
    if (!read(kFixedHeader, std::span(head).subspan(kFixedHeader), reason)) return false;
    const std::span<const uint8_t> b(head);
    const auto flags = Get<uint16_t>(b, 100);
    if ((flags & kPackedBit) != 0) {
        reason = "it is a packed WinDaq file, which is not supported";
        return false;
    }
    const auto period = Get<double>(b, 28);
    if (!std::isfinite(period) || period <= 0) {
        reason = "its header has no valid sample period";
        return false;
    }

    info.format = RecordingFormat::WinDaq;
    info.period = period;
    info.hiRes = (flags & kHiResBit) != 0;
    info.startTime = Get<uint32_t>(b, kOpenedAt);
    info.channels.assign(static_cast<std::size_t>(n), ChannelInfo{});
    for (int i = 0; i < n; ++i) {
        const uint64_t e = entryOffset + uint64_t{entrySize} * static_cast<uint64_t>(i);
        ChannelInfo& ch = info.channels[static_cast<std::size_t>(i)];
        ch.inputNumber = RecordedInput(static_cast<std::size_t>(i), static_cast<std::size_t>(n));
        ch.valueAt1V = Get<double>(b, e + 8) * 819.2;
        ch.valueAt0V = Get<double>(b, e + 16);
        CopyText(ch.unit, FromWindows1252(CText(b, e + 24, e + 30)), kWdqUnitChars);
        CopyText(ch.name, DefaultName(static_cast<std::size_t>(i)), kNameChars);
        if (!std::isfinite(ch.valueAt1V) || !std::isfinite(ch.valueAt0V)) {
            info.notes.push_back("Channel " + std::to_string(i + 1) + " has no valid calibration.");
        }
    }

    layout.headerBytes = headerBytes;
    layout.dataOffset = headerBytes;
    layout.scanBytes = 2 * static_cast<uint64_t>(n);
    const uint64_t available = size - headerBytes;
    const uint64_t dataBytes = Get<uint32_t>(b, 8);
    const uint64_t eventBytes = Get<uint32_t>(b, 12);
    const uint64_t annotationBytes = Get<uint16_t>(b, 16);
    // The writer patches the trailer sizes last: with them in place and in the
    // file, even a data size of 0 is the truth (a closed recording of no scans).
    const bool closed = eventBytes != 0 && dataBytes + eventBytes + annotationBytes <= available;
    uint64_t dataLength = dataBytes;
    bool sizeKnown = true;
    if (closed) {
        // Sizes as given.
    } else if (dataBytes == 0 && available > 0) {
        info.incomplete = true;
        sizeKnown = false;
        dataLength = available;
        info.notes.push_back("The header gives no data size; the scans on disk are read.");
    } else if (dataBytes > available) {
        info.incomplete = true;
        sizeKnown = false;
        dataLength = available;
        info.notes.push_back("The header promises " + std::to_string(dataBytes) +
                             " data bytes, the file holds " + std::to_string(available) + ".");
    }
    info.scanCount = static_cast<int64_t>(dataLength / layout.scanBytes);
    if (const uint64_t rest = dataLength % layout.scanBytes; rest != 0) {
        info.incomplete = info.incomplete || !sizeKnown;
        info.notes.push_back("The data ends inside a scan; its last " + std::to_string(rest) +
                             " bytes are left out.");
    }

    const uint64_t trailer = headerBytes + dataLength;
    if (!sizeKnown) {
        info.notes.push_back("The file has no trailer: channel names and markers are missing.");
    } else if (eventBytes == 0) {
        info.incomplete = true;
        info.notes.push_back("The file has no trailer: channel names and markers are missing.");
    } else if (trailer + eventBytes + annotationBytes > size) {
        info.incomplete = true;
        info.notes.push_back("The trailer runs past the end of the file and is left out.");
    } else if (size - trailer > kMaxTrailerBytes) {
        info.notes.push_back("The trailer holds " + std::to_string(size - trailer) +
                             " bytes, more than markers need; it is left out.");
    } else {
        // Comments lie after the annotations, anywhere up to the end of the file.
        std::vector<uint8_t> tail(size - trailer);
        if (!read(trailer, tail, reason)) return false;
        layout.hasTrailer = true;
        layout.trailerOffset = trailer;
        ParseTrailer(tail, eventBytes, annotationBytes, info);
        for (std::size_t m = 0; m < info.markers.size(); ++m) {
            if (info.markers[m].scan > info.scanCount) {
                info.notes.push_back("Marker " + std::to_string(m) + " lies beyond the last scan.");
            }
        }
    }
    if (info.incomplete) info.notes.emplace_back(kCutShortNote);
    return true;
}

bool ParseWdq(std::span<const uint8_t> bytes, RecordingInfo& info, WdqLayout& layout,
              std::string& reason) {
    const WdqByteSource read = [&](uint64_t offset, std::span<uint8_t> out, std::string& why) {
        if (offset > bytes.size() || out.size() > bytes.size() - offset) {
            why = "a read beyond the end of the file";
            return false;
        }
        if (!out.empty()) std::memcpy(out.data(), bytes.data() + offset, out.size());
        return true;
    };
    return ParseWdqFile(bytes.size(), read, info, layout, reason);
}

std::unique_ptr<WdqFileReader> WdqFileReader::Open(const std::string& path, std::string& error) {
    auto reader = std::unique_ptr<WdqFileReader>(new WdqFileReader());
    ReadOnlyFile& file = reader->file_;
    std::string reason;
    const WdqByteSource read = [&](uint64_t offset, std::span<uint8_t> out, std::string& why) {
        return file.ReadAt(offset, out, why);
    };
    if (!file.Open(path, reason) ||
        !ParseWdqFile(file.Size(), read, reader->info_, reader->layout_, reason)) {
        // A recorder writes its whole header just after it made the file.
        const bool headerYet = file.IsOpen() && file.Size() >= kWdqHeaderBytes;
        error = path + ": " +
                (!headerYet && HeldByRecorder(path) ? std::string(kNoScanYetReason) : reason);
        return nullptr;
    }
    reader->info_.fileName = path;
    reader->opened_ = static_cast<uint32_t>(reader->info_.startTime);
    NoteRecorderHold(path, reader->info_);
    TakeMarkerJournal(path, reader->info_);
    return reader;
}

// The recorder raises the header's data size once a second, after the scans
// it counts are on disk, and completes the trailer and header last: so the
// file read anew, as it was opened, is always a sound prefix of the recording.
bool WdqFileReader::Refresh(bool& grew) {
    grew = false;
    if (!info_.beingRecorded) return true;
    std::string reason;
    RecordingInfo info;
    WdqLayout layout;
    const WdqByteSource read = [&](uint64_t offset, std::span<uint8_t> out, std::string& why) {
        return file_.ReadAt(offset, out, why);
    };
    // A recorder that completes the file while it is read leaves a half-made
    // end: read it once more when the hold was there before and is gone after.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool held = HeldByRecorder(info_.fileName);
        info = RecordingInfo{};
        if (!file_.Grow(reason) || !ParseWdqFile(file_.Size(), read, info, layout, reason)) {
            error_ = info_.fileName + ": " + reason;
            return false;
        }
        NoteRecorderHold(info_.fileName, info);
        if (info.beingRecorded || !held) break;
        if (!info.incomplete) AwaitJournalEnd(info_.fileName);
    }
    if (static_cast<uint32_t>(info.startTime) != opened_ ||
        info.channels.size() != info_.channels.size() || info.period != info_.period ||
        layout.dataOffset != layout_.dataOffset || info.scanCount < info_.scanCount) {
        error_ = info_.fileName + ": " + std::string(kFileChangedReason);
        return false;
    }
    info.fileName = info_.fileName;
    TakeMarkerJournal(info.fileName, info);
    const auto sameMarker = [](const RecordingMarker& a, const RecordingMarker& b) {
        return a.scan == b.scan && a.comment == b.comment;
    };
    grew = info.scanCount != info_.scanCount || !info.beingRecorded ||
           !std::equal(info.markers.begin(), info.markers.end(), info_.markers.begin(),
                       info_.markers.end(), sameMarker);
    info_ = std::move(info);
    layout_ = layout;
    return true;
}

bool WdqFileReader::CheckRange(int64_t first, int64_t count, std::size_t outSize,
                               std::string& error) const {
    const auto n = static_cast<int64_t>(info_.channels.size());
    if (first < 0 || count < 0 || first > info_.scanCount - count ||
        static_cast<uint64_t>(count * n) > outSize) {
        error = info_.fileName + ": scans " + std::to_string(first) + " to " +
                std::to_string(first + count) + " are outside the recording";
        return false;
    }
    return true;
}

bool WdqFileReader::ReadWords(int64_t first, int64_t count, std::span<uint8_t> out,
                              std::string& error) const {
    const uint64_t bytes = static_cast<uint64_t>(count) * layout_.scanBytes;
    uint32_t opened = 0;
    if (!file_.ReadAt(layout_.dataOffset + static_cast<uint64_t>(first) * layout_.scanBytes,
                      out.first(bytes), error) ||
        !file_.ReadAt(kOpenedAt, std::span(reinterpret_cast<uint8_t*>(&opened), sizeof opened),
                      error)) {
        error = info_.fileName + ": " + error;
        return false;
    }
    if (opened != opened_) {
        error = info_.fileName + ": " + std::string(kFileChangedReason);
        return false;
    }
    return true;
}

bool WdqFileReader::ReadBytes(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (!file_.ReadAt(offset, out, error)) {
        error = info_.fileName + ": " + error;
        return false;
    }
    return true;
}

bool WdqFileReader::ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) {
    if (!CheckRange(first, count, out.size(), error_)) return false;
    const auto values = static_cast<std::size_t>(count) * info_.channels.size();
    if (!ReadWords(first, count, Bytes(out.first(values)), error_)) return false;
    // Outside HiRes files the two lowest bits are event flags, not signal.
    if (!info_.hiRes) {
        for (std::size_t i = 0; i < values; ++i) {
            out[i] = static_cast<int16_t>(static_cast<uint16_t>(out[i]) & 0xFFFCu);
        }
    }
    return true;
}

bool WdqFileReader::CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                                      std::string& error) const {
    if (!CheckRange(first, count, out.size(), error)) return false;
    const auto values = static_cast<std::size_t>(count) * info_.channels.size();
    return ReadWords(first, count, Bytes(out.first(values)), error);
}

bool WdqFileReader::ReadValues(int64_t first, int64_t count, std::span<double> out) {
    if (!CheckRange(first, count, out.size(), error_)) return false;
    const std::size_t n = info_.channels.size();
    scratch_.resize(static_cast<std::size_t>(count) * layout_.scanBytes);
    if (!ReadWords(first, count, scratch_, error_)) return false;
    const uint16_t mask = info_.hiRes ? 0xFFFFu : 0xFFFCu;
    std::size_t i = 0;
    for (int64_t s = 0; s < count; ++s) {
        for (std::size_t k = 0; k < n; ++k, ++i) {
            uint16_t word;
            std::memcpy(&word, scratch_.data() + 2 * i, 2);
            const auto sample = static_cast<int16_t>(word & mask);
            out[i] = EngineeringValue(sample, info_.channels[k]);
        }
    }
    return true;
}

}  // namespace tamix
