#include "recording/WdqFileReader.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
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

std::string DefaultName(std::size_t position) {
    return "Chn" + std::to_string(position);
}

constexpr uint16_t kHiResBit = 0x0002;
constexpr uint16_t kPackedBit = 0x4000;
constexpr uint64_t kChannelEntryUse = 30;  // calibration and unit: bytes 0..29 of an entry
constexpr std::size_t kWdqUnitChars = 5;   // the format's unit field holds five characters

void ParseTrailer(std::span<const uint8_t> b, uint64_t start, uint64_t eventBytes,
                  uint64_t annotationBytes, RecordingInfo& info) {
    const uint64_t annotations = start + eventBytes;
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
    for (uint64_t q = start; q + 4 <= annotations;) {
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

bool ParseWdq(std::span<const uint8_t> b, RecordingInfo& info, WdqLayout& layout,
              std::string& reason) {
    const uint64_t size = b.size();
    if (size == 0) {
        reason = "the file is empty";
        return false;
    }
    if (size < 110) {
        reason = "the file ends inside its header (" + std::to_string(size) + " bytes)";
        return false;
    }
    // Bit 5 set: the channel count is in bits 0..4; clear: the whole byte counts.
    const uint8_t first = b[0];
    const int n = (first & 0x20) != 0 ? (first & 0x1F) : first;
    const uint8_t entryOffset = b[4];
    const uint8_t entrySize = b[5];
    const uint16_t headerBytes = Get<uint16_t>(b, 6);
    if (n < 1 || entrySize < kChannelEntryUse || entryOffset < 110 ||
        uint64_t{entryOffset} + uint64_t{entrySize} * static_cast<uint64_t>(n) + 2 > headerBytes) {
        reason = "it is not a WinDaq file (its header does not describe channels)";
        return false;
    }
    if (headerBytes > size) {
        reason = "the file ends inside its header (" + std::to_string(size) + " of " +
                 std::to_string(headerBytes) + " bytes)";
        return false;
    }
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
    info.startTime = Get<uint32_t>(b, 36);
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
    } else {
        layout.hasTrailer = true;
        layout.trailerOffset = trailer;
        ParseTrailer(b, trailer, eventBytes, annotationBytes, info);
        for (std::size_t m = 0; m < info.markers.size(); ++m) {
            if (info.markers[m].scan > info.scanCount) {
                info.notes.push_back("Marker " + std::to_string(m) + " lies beyond the last scan.");
            }
        }
    }
    if (info.incomplete) info.notes.emplace_back(kCutShortNote);
    return true;
}

std::unique_ptr<WdqFileReader> WdqFileReader::Open(const std::string& path, std::string& error) {
    auto reader = std::unique_ptr<WdqFileReader>(new WdqFileReader());
    std::string reason;
    if (!reader->file_.Open(path, reason) ||
        !ParseWdq(reader->file_.Bytes(), reader->info_, reader->layout_, reason)) {
        error = path + ": " + reason;
        return nullptr;
    }
    reader->info_.fileName = path;
    NoteRecorderHold(path, reader->info_);
    return reader;
}

bool WdqFileReader::CheckRange(int64_t first, int64_t count, std::size_t outSize) {
    const auto n = static_cast<int64_t>(info_.channels.size());
    if (first < 0 || count < 0 || first > info_.scanCount - count ||
        static_cast<uint64_t>(count * n) > outSize) {
        error_ = info_.fileName + ": scans " + std::to_string(first) + " to " +
                 std::to_string(first + count) + " are outside the recording";
        return false;
    }
    return true;
}

bool WdqFileReader::ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) {
    if (!CheckRange(first, count, out.size())) return false;
    const auto values = static_cast<std::size_t>(count) * info_.channels.size();
    const uint8_t* src = file_.Bytes().data() + layout_.dataOffset +
                         static_cast<uint64_t>(first) * layout_.scanBytes;
    std::memcpy(out.data(), src, values * 2);
    // Outside HiRes files the two lowest bits are event flags, not signal.
    if (!info_.hiRes) {
        for (std::size_t i = 0; i < values; ++i) {
            out[i] = static_cast<int16_t>(static_cast<uint16_t>(out[i]) & 0xFFFCu);
        }
    }
    return true;
}

std::span<const int16_t> WdqFileReader::StoredSamples() const {
    const uint8_t* data = file_.Bytes().data() + layout_.dataOffset;
    // A foreign header of odd length leaves the samples unaligned: no view then.
    if (info_.scanCount == 0 || reinterpret_cast<uintptr_t>(data) % alignof(int16_t) != 0) {
        return {};
    }
    return {reinterpret_cast<const int16_t*>(data),
            static_cast<std::size_t>(info_.scanCount) * info_.channels.size()};
}

bool WdqFileReader::CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                                      std::string& error) const {
    const auto n = static_cast<int64_t>(info_.channels.size());
    if (first < 0 || count < 0 || first > info_.scanCount - count ||
        static_cast<uint64_t>(count * n) > out.size()) {
        error = info_.fileName + ": scans " + std::to_string(first) + " to " +
                std::to_string(first + count) + " are outside the recording";
        return false;
    }
    const std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(out.data()),
                                   static_cast<std::size_t>(count * n) * 2);
    if (!file_.ReadAt(layout_.dataOffset + static_cast<uint64_t>(first) * layout_.scanBytes, bytes,
                      error)) {
        error = info_.fileName + ": " + error;
        return false;
    }
    return true;
}

bool WdqFileReader::ReadValues(int64_t first, int64_t count, std::span<double> out) {
    if (!CheckRange(first, count, out.size())) return false;
    const std::size_t n = info_.channels.size();
    const uint8_t* src = file_.Bytes().data() + layout_.dataOffset +
                         static_cast<uint64_t>(first) * layout_.scanBytes;
    const uint16_t mask = info_.hiRes ? 0xFFFFu : 0xFFFCu;
    std::size_t i = 0;
    for (int64_t s = 0; s < count; ++s) {
        for (std::size_t k = 0; k < n; ++k, ++i) {
            uint16_t word;
            std::memcpy(&word, src + 2 * i, 2);
            const auto sample = static_cast<int16_t>(word & mask);
            out[i] = EngineeringValue(sample, info_.channels[k]);
        }
    }
    return true;
}

}  // namespace tamix
