// What a review window or an exporter needs from a recording on disk, whatever
// its format: channels, timing, markers, and random access to its scans.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ChannelInfo.h"

namespace tamix {

enum class RecordingFormat { WinDaq, Text };

struct RecordingMarker {
    int64_t scan = 0;
    // Seconds, as stored with the marker by the writer; not every marker has one.
    std::optional<uint32_t> timeStamp;
    std::string comment;  // UTF-8
};

struct RecordingInfo {
    std::string fileName;
    RecordingFormat format = RecordingFormat::WinDaq;
    std::vector<ChannelInfo> channels;  // names and units in UTF-8
    double period = 0;                  // seconds between two scans
    int64_t scanCount = 0;              // whole scans readable
    int64_t startTime = 0;              // seconds since 1970; 0 when unknown
    // True when the file stores no start time and `startTime` is worked out
    // from the file's last change (text recordings).
    bool startTimeEstimated = false;
    std::vector<RecordingMarker> markers;
    // True when the recording was cut short (the writer never closed it): the
    // scans above are the whole ones on disk, and `notes` says what is missing.
    bool incomplete = false;
    // True when a recorder held the file open for writing as it was opened: the
    // recording is going on, and the scans above are those written so far.
    bool beingRecorded = false;
    // Everything odd about the file, one sentence each.
    std::vector<std::string> notes;
    // The markers journal the markers and channel names above were read from
    // (a recording that was never completed), or empty.
    std::string markerJournal;
    bool hiRes = false;  // WinDaq samples use all 16 bits (no event bits)
    // The files read as this one recording, in their order, when a split run
    // left more than one; empty for a recording of one file.
    std::vector<std::string> chainFiles;
};

// Why a recording that is being made cannot be opened yet.
inline constexpr std::string_view kNoScanYetReason =
    "it is being recorded and no whole scan has reached the disk yet; open it again in a moment";

// The last note of a recording that was never closed.
inline constexpr std::string_view kCutShortNote = "The recording was not closed (cut short).";

// Sets `beingRecorded` when a recorder holds the file at `path`; the note that
// the recording was cut short then says that it is going on instead.
void NoteRecorderHold(const std::string& path, RecordingInfo& info);

// The input of the channel at `position` of a recording of `count` channels.
// Neither file format stores inputs, only the channels' order, and a run
// records its inputs in ascending order: so a recording of eight channels holds
// inputs 1 to D, and in any other the inputs are unknown.
inline int32_t RecordedInput(std::size_t position, std::size_t count) {
    return count == kMaxChannels && position < count ? static_cast<int32_t>(position)
                                                     : kUnknownInput;
}

// One open recording. Reads may be called from one thread at a time.
class RecordingReader {
  public:
    virtual ~RecordingReader() = default;

    virtual const RecordingInfo& Info() const = 0;

    // Scans [first, first + count), interleaved by channel, in the common sample
    // unit (3276.8 counts per volt before calibration). False with Error() set
    // when the range is outside the recording or the file cannot be read there.
    virtual bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) = 0;
    // The same scans as engineering values.
    virtual bool ReadValues(int64_t first, int64_t count, std::span<double> out) = 0;

    // Copies scans [first, first + count) of the sample words as stored into
    // `out`, interleaved by channel; outside HiRes WinDaq files their two
    // lowest bits are still event flags. Unlike the reads above, any number of
    // threads may call it at once, so that a pass over a whole file can be
    // shared out. False with `error` ("FILE: reason") when the reader has no
    // stored words or they cannot be read there.
    virtual bool CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                                   std::string& error) const {
        static_cast<void>(first);
        static_cast<void>(count);
        static_cast<void>(out);
        error = Info().fileName + ": its samples are not stored as 16-bit words";
        return false;
    }

    // For a recording that is going on: takes in the scans and markers that
    // reached the disk since it was opened or last refreshed, so that Info()
    // describes them; scans already read keep their values. Sets `grew` when
    // anything was added or the recording ended. False with Error() when the
    // file can no longer be read; the reader then keeps what it had.
    virtual bool Refresh(bool& grew) {
        grew = false;
        return true;
    }

    // File name and reason of the last failure.
    virtual std::string Error() const = 0;
};

}  // namespace tamix
