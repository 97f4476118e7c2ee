#include "recording/ChainReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/ReadOnlyFile.h"

namespace tamix {
namespace {

constexpr int64_t kMinNumberDigits = 4;

std::size_t NameStart(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

std::string BaseName(const std::string& path) {
    return path.substr(NameStart(path));
}

// Where the extension begins (the last dot of the name), or the name's end.
std::size_t ExtensionStart(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos || dot <= NameStart(path) ? path.size() : dot;
}

std::string Number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, r.ptr};
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Text recordings give their period only through times of three decimals: two
// files of the same run agree within what that rounding leaves uncertain.
bool PeriodsAgree(const RecordingInfo& a, const RecordingInfo& b) {
    if (a.format != RecordingFormat::Text) return a.period == b.period;
    if (a.period <= 0 || b.period <= 0) return true;
    const auto spread = [](const RecordingInfo& info) {
        return 0.001 / static_cast<double>(std::max<int64_t>(info.scanCount - 1, 1)) + 1e-9;
    };
    return std::abs(a.period - b.period) <= spread(a) + spread(b);
}

std::string ChannelFault(const RecordingInfo& chain, const RecordingInfo& next) {
    const std::string first = BaseName(chain.fileName);
    if (next.channels.size() != chain.channels.size()) {
        return "it has " + std::to_string(next.channels.size()) + " channels, " + first + " has " +
               std::to_string(chain.channels.size());
    }
    for (std::size_t k = 0; k < chain.channels.size(); ++k) {
        const ChannelInfo& a = chain.channels[k];
        const ChannelInfo& b = next.channels[k];
        const std::string which = "its channel " + std::to_string(k + 1);
        // A file cut short may have lost its names with its trailer.
        if (!chain.incomplete && !next.incomplete && a.Name() != b.Name()) {
            return which + " is named \"" + std::string(b.Name()) + "\", not \"" +
                   std::string(a.Name()) + "\"";
        }
        if (a.Unit() != b.Unit()) {
            return which + " has the unit \"" + std::string(b.Unit()) + "\", not \"" +
                   std::string(a.Unit()) + "\"";
        }
        if (a.valueAt1V != b.valueAt1V || a.valueAt0V != b.valueAt0V) {
            return which + " has the calibration 1V = " + Number(b.valueAt1V) +
                   ", 0V = " + Number(b.valueAt0V) + ", not 1V = " + Number(a.valueAt1V) +
                   ", 0V = " + Number(a.valueAt0V);
        }
    }
    return {};
}

}  // namespace

std::string ChainFileName(const std::string& first, int64_t position) {
    if (position <= 1) return first;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*lld", static_cast<int>(kMinNumberDigits),
                  static_cast<long long>(position));
    const std::size_t ext = ExtensionStart(first);
    return first.substr(0, ext) + "-" + digits + first.substr(ext);
}

ChainPlace ChainPlaceOf(const std::string& path) {
    const std::size_t ext = ExtensionStart(path);
    const std::size_t dash = path.rfind('-', ext);
    if (dash == std::string::npos || dash <= NameStart(path) ||
        static_cast<int64_t>(ext - dash - 1) < kMinNumberDigits) {
        return {path, 1};
    }
    int64_t position = 0;
    const char* begin = path.data() + dash + 1;
    const char* end = path.data() + ext;
    const auto r = std::from_chars(begin, end, position);
    if (r.ec != std::errc() || r.ptr != end || position < 2) return {path, 1};
    std::string first = path.substr(0, dash) + path.substr(ext);
    // Only the spelling a writer of the chain gives the name (no sign, no
    // extra zeros) makes it a follow-on file.
    if (ChainFileName(first, position) != path) return {path, 1};
    return {std::move(first), position};
}

std::string ContinuedFromComment(std::string_view previousName, int64_t scan) {
    return "Continued from " + std::string(previousName) + " at scan " + std::to_string(scan);
}

std::string ChainLinkFault(const RecordingInfo& chain, const RecordingInfo& previous,
                           const RecordingInfo& next, int64_t scans) {
    const std::string expected = ContinuedFromComment(BaseName(previous.fileName), scans);
    if (next.markers.empty()) return "it has no marker \"" + expected + "\"";
    const RecordingMarker& marker = next.markers.front();
    // A marker keeps kCommentChars characters: after a long file name only
    // the part of the comment that fits can be checked.
    const std::string_view kept = Utf8Prefix(expected, kCommentChars, kCommentBytes - 1);
    if (marker.comment != expected && (kept.size() == expected.size() || marker.comment != kept)) {
        return "its first marker is \"" + marker.comment + "\", not \"" + expected + "\"";
    }
    if (marker.scan != 0) {
        return "its marker \"" + expected + "\" lies at scan " + std::to_string(marker.scan) +
               ", not at its first scan";
    }
    if (next.format != chain.format) return "it is a recording of another format";
    if (std::string fault = ChannelFault(chain, next); !fault.empty()) return fault;
    if (!PeriodsAgree(chain, next)) {
        return "its scans are " + Number(next.period) + " s apart, not " + Number(chain.period) +
               " s";
    }
    if (next.hiRes != chain.hiRes) {
        return next.hiRes ? "its samples are HiRes, those before are not"
                          : "its samples are not HiRes, those before are";
    }
    return {};
}

ChainReader::ChainReader(std::string path, std::string first)
    : path_(std::move(path)), first_(std::move(first)) {}

std::unique_ptr<RecordingReader> ChainReader::Open(const std::string& path, std::string& error) {
    const ChainPlace place = ChainPlaceOf(path);
    if (place.position > 1 && !Exists(place.first)) return OpenRecordingFile(path, error);
    std::unique_ptr<RecordingReader> head = OpenRecordingFile(place.first, error);
    if (!head) return place.position > 1 ? OpenRecordingFile(path, error) : nullptr;
    auto chain = std::unique_ptr<ChainReader>(new ChainReader(path, place.first));
    chain->parts_.push_back({std::move(head), 0});
    chain->Describe();
    while (chain->TakeNext() == Step::Taken) chain->Describe();
    // A file that the chain from its first file does not reach is read alone.
    if (static_cast<int64_t>(chain->parts_.size()) < place.position) {
        return OpenRecordingFile(path, error);
    }
    // One file is no chain; yet one being recorded may become one.
    if (chain->parts_.size() == 1 && chain->linkNotes_.empty() &&
        !chain->parts_.front().reader->Info().beingRecorded) {
        return std::move(chain->parts_.front().reader);
    }
    chain->Describe();
    return chain;
}

ChainReader::Step ChainReader::TakeNext() {
    if (ended_) return Step::None;
    const std::string name = ChainFileName(first_, static_cast<int64_t>(parts_.size()) + 1);
    if (!Exists(name)) return Step::None;
    const RecordingInfo& previous = parts_.back().reader->Info();
    std::string error;
    std::string fault;
    std::unique_ptr<RecordingReader> next = OpenRecordingFile(name, error);
    if (!next) {
        fault = "it cannot be read (" + error + ")";
    } else {
        fault = ChainLinkFault(parts_.front().reader->Info(), previous, next->Info(), scanCount_);
    }
    if (fault.empty()) {
        parts_.push_back({std::move(next), scanCount_});
        scanCount_ += parts_.back().reader->Info().scanCount;
        return Step::Taken;
    }
    // The last scans of a file being recorded, or the first marker of one
    // just begun, may not be on disk yet: the link is looked at again later.
    const bool unsettled =
        previous.beingRecorded ||
        (next ? next->Info().beingRecorded && next->Info().markers.empty() : HeldByRecorder(name));
    if (unsettled) return Step::None;
    linkNotes_.push_back("The chain ends before " + BaseName(name) + ": " + fault + ".");
    ended_ = true;
    return Step::Ended;
}

void ChainReader::Describe() {
    RecordingInfo info;
    const RecordingInfo& head = parts_.front().reader->Info();
    info.fileName = path_;
    info.format = head.format;
    // Names as a whole file gives them, should the first have lost its own.
    const auto whole = std::find_if(parts_.begin(), parts_.end(),
                                    [](const Part& p) { return !p.reader->Info().incomplete; });
    info.channels = (whole != parts_.end() ? whole->reader->Info() : head).channels;
    info.period = head.period;
    info.startTime = head.startTime;
    info.startTimeEstimated = head.startTimeEstimated;
    info.hiRes = head.hiRes;
    const bool chain = parts_.size() > 1;
    int64_t scans = 0;
    std::string names;
    for (Part& part : parts_) {
        part.firstScan = scans;
        const RecordingInfo& p = part.reader->Info();
        for (const RecordingMarker& marker : p.markers) {
            info.markers.push_back(marker);
            info.markers.back().scan += scans;
        }
        info.incomplete = info.incomplete || p.incomplete;
        const std::string name = BaseName(p.fileName);
        for (const std::string& note : p.notes) {
            std::string shown = chain ? name + ": " : std::string();
            shown += note;
            info.notes.push_back(std::move(shown));
        }
        if (!p.markerJournal.empty()) info.markerJournal = p.markerJournal;
        if (chain) info.chainFiles.push_back(p.fileName);
        names += (names.empty() ? "" : ", ") + name;
        scans += p.scanCount;
    }
    info.scanCount = scans;
    scanCount_ = scans;
    // The recorder completes a file it has left a few seconds later, and may
    // end the last one first: the recording is going on until all are done.
    // The next file is held before its link is on disk, too.
    info.beingRecorded =
        std::any_of(parts_.begin(), parts_.end(),
                    [](const Part& p) { return p.reader->Info().beingRecorded; }) ||
        HeldByRecorder(ChainFileName(first_, static_cast<int64_t>(parts_.size()) + 1));
    if (chain) {
        info.notes.push_back("It is a chain of " + std::to_string(parts_.size()) +
                             " files, read as one recording: " + names + ".");
    }
    info.notes.insert(info.notes.end(), linkNotes_.begin(), linkNotes_.end());
    info_ = std::move(info);
}

bool ChainReader::CheckRange(int64_t first, int64_t count, std::size_t outSize,
                             std::string& error) const {
    const auto n = static_cast<uint64_t>(info_.channels.size());
    if (first < 0 || count < 0 || first > scanCount_ - count ||
        static_cast<uint64_t>(count) * n > outSize) {
        error = info_.fileName + ": scans " + std::to_string(first) + " to " +
                std::to_string(first + count) + " are outside the recording";
        return false;
    }
    return true;
}

std::size_t ChainReader::PartOf(int64_t scan) const {
    // The last part that begins at or before the scan: a part of no scans
    // shares its beginning with the next and is passed over.
    const auto after = std::upper_bound(parts_.begin(), parts_.end(), scan,
                                        [](int64_t s, const Part& p) { return s < p.firstScan; });
    return static_cast<std::size_t>(std::max<std::ptrdiff_t>(after - parts_.begin() - 1, 0));
}

// Scans [first, first + count) from the parts that hold them, each through
// `read` (the part's own read of the same kind).
template <typename T, typename Read>
bool ChainReader::ReadAcross(int64_t first, int64_t count, std::span<T> out, const Read& read) {
    if (!CheckRange(first, count, out.size(), error_)) return false;
    const std::size_t n = info_.channels.size();
    std::size_t at = 0;
    for (std::size_t p = PartOf(first); count > 0 && p < parts_.size(); ++p) {
        RecordingReader& part = *parts_[p].reader;
        const int64_t local = first - parts_[p].firstScan;
        const int64_t piece = std::min(count, part.Info().scanCount - local);
        if (piece <= 0) continue;
        const std::size_t values = static_cast<std::size_t>(piece) * n;
        if (!read(part, local, piece, out.subspan(at, values))) {
            error_ = part.Error();
            return false;
        }
        at += values;
        first += piece;
        count -= piece;
    }
    return true;
}

bool ChainReader::ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) {
    return ReadAcross(first, count, out,
                      [](RecordingReader& r, int64_t f, int64_t c, std::span<int16_t> o) {
                          return r.ReadSamples(f, c, o);
                      });
}

bool ChainReader::ReadValues(int64_t first, int64_t count, std::span<double> out) {
    return ReadAcross(first, count, out,
                      [](RecordingReader& r, int64_t f, int64_t c, std::span<double> o) {
                          return r.ReadValues(f, c, o);
                      });
}

bool ChainReader::CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                                    std::string& error) const {
    if (info_.format == RecordingFormat::Text) {
        return RecordingReader::CopyStoredSamples(first, count, out, error);
    }
    if (!CheckRange(first, count, out.size(), error)) return false;
    const std::size_t n = info_.channels.size();
    std::size_t at = 0;
    for (std::size_t p = PartOf(first); count > 0 && p < parts_.size(); ++p) {
        const RecordingReader& part = *parts_[p].reader;
        const int64_t local = first - parts_[p].firstScan;
        const int64_t piece = std::min(count, part.Info().scanCount - local);
        if (piece <= 0) continue;
        const std::size_t values = static_cast<std::size_t>(piece) * n;
        if (!part.CopyStoredSamples(local, piece, out.subspan(at, values), error)) return false;
        at += values;
        first += piece;
        count -= piece;
    }
    return true;
}

bool ChainReader::Refresh(bool& grew) {
    grew = false;
    bool lastGrew = false;
    // A file the recorder has left is completed a few seconds later (its
    // trailer or info file, late gap markers): it is read on until then too.
    // Its scans were all counted before the next file was taken in, whose
    // link names their count.
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        RecordingReader& part = *parts_[i].reader;
        const bool last = i + 1 == parts_.size();
        if (!last && !part.Info().beingRecorded) continue;
        const int64_t scans = part.Info().scanCount;
        bool partGrew = false;
        if (!part.Refresh(partGrew)) {
            error_ = part.Error();
            return false;
        }
        if (!last && part.Info().scanCount != scans) {
            error_ = part.Info().fileName + ": " + std::string(kFileChangedReason);
            return false;
        }
        lastGrew = lastGrew || partGrew;
    }
    if (lastGrew) Describe();
    // Once the recorder has let go of every file, each is read as it now
    // lies: a file completed just after its reader last looked would
    // otherwise stay cut short in the chain.
    if (lastGrew && !info_.beingRecorded) {
        for (Part& part : parts_) {
            if (!part.reader->Info().incomplete) continue;
            std::string why;
            std::unique_ptr<RecordingReader> again =
                OpenRecordingFile(part.reader->Info().fileName, why);
            if (again && again->Info().scanCount == part.reader->Info().scanCount) {
                part.reader = std::move(again);
            }
        }
        Describe();
    }
    bool taken = false;
    for (Step step = TakeNext(); step != Step::None; step = TakeNext()) {
        taken = true;
        Describe();
    }
    grew = lastGrew || taken;
    return true;
}

}  // namespace tamix
