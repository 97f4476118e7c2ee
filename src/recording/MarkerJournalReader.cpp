#include "recording/MarkerJournalReader.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/Utf8Text.h"
#include "recording/MarkerJournal.h"
#include "recording/ReadOnlyFile.h"
#include "recording/Windows1252Text.h"

namespace tamix {
namespace {

// Names and markers are far below this; a bigger file is no journal of ours.
constexpr uint64_t kMaxJournalBytes = uint64_t{1} << 20;

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char e = text[++i];
        out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e);
    }
    return out;
}

// The next blank-separated word of `text`, taken off its front.
std::string_view Word(std::string_view& text) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
    return word;
}

template <typename T>
bool Number(std::string_view word, T& value) {
    const auto r = std::from_chars(word.data(), word.data() + word.size(), value);
    return r.ec == std::errc() && r.ptr == word.data() + word.size();
}

// "key=value" with the given key.
template <typename T>
bool Field(std::string_view word, std::string_view key, T& value) {
    return word.size() > key.size() && word.starts_with(key) && word[key.size()] == '=' &&
           Number(word.substr(key.size() + 1), value);
}

bool ParseHeader(std::string_view line, JournalContents& contents) {
    if (!line.starts_with(kMarkerJournalMagic)) return false;
    line.remove_prefix(kMarkerJournalMagic.size());
    return Field(Word(line), "channels", contents.channelCount) &&
           Field(Word(line), "period", contents.period) &&
           Field(Word(line), "created", contents.creationTime) && contents.channelCount >= 1 &&
           contents.channelCount <= kMaxChannels;
}

// "channel K NAME" and "marker M POSITION WALLTIME COMMENT", each in order;
// anything else is left out.
void ParseEntry(std::string_view line, JournalContents& contents) {
    const std::string_view kind = Word(line);
    std::size_t index = 0;
    if (!Number(Word(line), index)) return;
    if (kind == "channel" && index == contents.channelNames.size() &&
        index < static_cast<std::size_t>(contents.channelCount)) {
        contents.channelNames.push_back(Unescaped(line));
    } else if (kind == "marker" && index == contents.markers.size() &&
               index < static_cast<std::size_t>(kMaxMarkers)) {
        JournalContents::Marker m;
        if (!Number(Word(line), m.position) || !Number(Word(line), m.wallTime)) return;
        m.comment = Unescaped(line);
        contents.markers.push_back(std::move(m));
    }
}

// A note that goes before the one saying the recording was cut short, which
// stays the last.
void AddNote(RecordingInfo& info, std::string note) {
    const auto cut = std::find(info.notes.begin(), info.notes.end(), kCutShortNote);
    info.notes.insert(cut, std::move(note));
}

// The text as the recording's own format keeps it: WinDaq files hold
// Windows-1252, so a repaired file reads back as the journal reads now.
std::string AsStored(const std::string& text, RecordingFormat format) {
    return format == RecordingFormat::WinDaq ? FromWindows1252(ToWindows1252(text)) : text;
}

}  // namespace

JournalFound ReadMarkerJournal(const std::string& path, JournalContents& contents,
                               std::string& reason) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        return JournalFound::None;
    }
    ReadOnlyFile file;
    if (!file.Open(path, reason)) return JournalFound::Unreadable;
    if (file.Size() > kMaxJournalBytes) {
        reason = "it is larger than a markers journal";
        return JournalFound::Unreadable;
    }
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    if (!file.ReadAt(0, std::span(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()),
                     reason)) {
        return JournalFound::Unreadable;
    }
    std::string_view text(bytes);
    bool header = true;
    // Only lines with their end count: a crash may have cut off the last.
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n')) {
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        if (header) {
            if (!ParseHeader(line, contents)) {
                reason = "its first line is not a markers journal's";
                return JournalFound::Unreadable;
            }
            header = false;
        } else {
            ParseEntry(line, contents);
        }
    }
    if (header) {
        reason = "it has no whole first line";
        return JournalFound::Unreadable;
    }
    return JournalFound::Read;
}

bool JournalBelongsTo(const JournalContents& journal, const RecordingInfo& info) {
    if (static_cast<std::size_t>(journal.channelCount) != info.channels.size()) return false;
    if (info.format == RecordingFormat::WinDaq) {
        // The header keeps the time of creation in 32 bits.
        return static_cast<uint32_t>(journal.creationTime) == static_cast<uint32_t>(info.startTime);
    }
    if (info.startTime <= 0) return true;
    // A text recording's start is its last change less its duration: at most
    // a second or so after the journal was made (later still after a pause or
    // a copy), never before; the unit's clock may run a little fast.
    const double duration = static_cast<double>(info.scanCount) * info.period;
    return static_cast<double>(info.startTime) + 3.0 + 0.001 * duration >=
           static_cast<double>(journal.creationTime);
}

void AwaitJournalEnd(const std::string& path) {
    const std::string name = MarkerJournalName(path);
    for (int wait = 0; wait < 25; ++wait) {
        std::error_code ec;
        if (!std::filesystem::exists(name, ec) || ec) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TakeMarkerJournal(const std::string& path, RecordingInfo& info) {
    const std::string name = MarkerJournalName(path);
    JournalContents journal;
    std::string reason;
    switch (ReadMarkerJournal(name, journal, reason)) {
        case JournalFound::None:
            return;
        case JournalFound::Unreadable:
            AddNote(info, name + " is no markers journal (" + reason + "); it is left out.");
            return;
        case JournalFound::Read:
            break;
    }
    if (!JournalBelongsTo(journal, info)) {
        AddNote(info,
                "The markers journal " + name + " belongs to another recording; it is left out.");
        return;
    }
    if (journal.markers.size() < info.markers.size()) {
        AddNote(info, "The markers journal " + name +
                          " holds fewer markers than the file itself; it is left out.");
        return;
    }
    info.markers.clear();
    for (std::size_t m = 0; m < journal.markers.size(); ++m) {
        const JournalContents::Marker& j = journal.markers[m];
        RecordingMarker marker;
        // No recording reaches 2^30 scans (MaxWdqScans): a position beyond is
        // no marker of a run, and is kept below what a trailer can point at.
        marker.scan = std::clamp<int64_t>(j.position, 0, int64_t{1} << 30);
        marker.comment = AsStored(j.comment, info.format);
        // As the WinDaq trailer stores it: a marker at the very start carries
        // its time since the file was made instead of a scan.
        if (info.format == RecordingFormat::WinDaq && j.position <= 0) {
            const int64_t stamp = (m == 0 || j.wallTime <= 0)
                                      ? 0
                                      : std::max<int64_t>(j.wallTime - journal.creationTime, 0);
            marker.timeStamp = static_cast<uint32_t>(stamp);
        }
        info.markers.push_back(std::move(marker));
    }
    for (std::size_t k = 0; k < journal.channelNames.size() && k < info.channels.size(); ++k) {
        CopyText(info.channels[k].name, AsStored(journal.channelNames[k], info.format), kNameChars);
    }
    info.markerJournal = name;
    const std::string count = std::to_string(info.markers.size());
    if (info.beingRecorded) {
        AddNote(info,
                "Its " + count + " markers so far are read from its markers journal " + name + ".");
        return;
    }
    AddNote(info, "Its " + count +
                      " markers and the channel names are read from the markers journal " + name +
                      "; tamix-file repair writes them into the file.");
    for (std::size_t m = 0; m < info.markers.size(); ++m) {
        if (info.markers[m].scan > info.scanCount) {
            AddNote(info, "Marker " + std::to_string(m) + " lies beyond the last scan.");
        }
    }
    if (!info.incomplete) {
        info.incomplete = true;
        info.notes.emplace_back(kCutShortNote);
    }
}

}  // namespace tamix
