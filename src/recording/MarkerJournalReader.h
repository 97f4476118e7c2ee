// Reading a recording's markers journal back: its markers and channel names,
// whether it belongs to the recording beside it, and taking them into what a
// reader tells of a recording that was never completed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/RecordingReader.h"

namespace tamix {

// What a journal holds.
struct JournalContents {
    int channelCount = 0;
    double period = 0;
    int64_t creationTime = 0;
    std::vector<std::string> channelNames;  // UTF-8, one per channel where given
    struct Marker {
        int64_t position = 0;
        int64_t wallTime = 0;
        std::string comment;  // UTF-8
    };
    std::vector<Marker> markers;
};

enum class JournalFound { None, Read, Unreadable };

// Reads the journal at `path`; Unreadable with `reason` for a file that is no
// journal. A line cut off by a crash is left out.
JournalFound ReadMarkerJournal(const std::string& path, JournalContents& contents,
                               std::string& reason);

// Whether `journal` was written by the run that wrote the recording `info`
// describes: the same channel count, and for a WinDaq file the same time of
// creation; a text recording, which stores no time, must not have started
// before the journal was made.
bool JournalBelongsTo(const JournalContents& journal, const RecordingInfo& info);

// Where a journal of the recording at `path` lies, takes its markers and
// channel names into `info`, marks the recording cut short and names the
// journal in `info.markerJournal`; a journal of another recording, or one that
// cannot be read, is only noted. Called by the readers as they open a file.
void TakeMarkerJournal(const std::string& path, RecordingInfo& info);

// For a reader that saw the recorder let go of a completed recording at
// `path`: the recorder removes the journal just after it closed the file, and
// a journal found in between would make the file look cut short. Waits until
// the journal is gone, for half a second at most.
void AwaitJournalEnd(const std::string& path);

}  // namespace tamix
