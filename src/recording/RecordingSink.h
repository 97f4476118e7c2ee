// Where the recorded scans of one run go: one sink per output type behind one
// interface, so that the worker's loop has no branch per file type. Worker
// thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "base/OutputKinds.h"
#include "recording/OutputFile.h"

namespace tamix {

// How the completion of a recording went.
enum class SinkEnd { Ok, WriteFailed, InfoFailed };

class RecordingSink {
  public:
    virtual ~RecordingSink() = default;
    // Before the unit streams: what can be made without touching the target,
    // a text recording's info file (channels, start marker) as a replacement
    // that takes its place with the data file. False with Error() naming the
    // file and the reason: then nothing was written.
    virtual bool Prepare(const MarkerTable& markers) = 0;
    // Once the unit's first scans have arrived: creates the data file (see
    // RecordingFile). False with Error() naming the file and the reason.
    virtual bool Open() = 0;
    // Writes what precedes the first scan; `markers` holds the start marker.
    // It is the run's marker table, which checkpoints journal: it outlives the sink.
    virtual bool Begin(const MarkerTable& markers) = 0;
    // Before the first checkpoint, for a file prepared before its first scan
    // was due: the wall-clock time (seconds since 1970) of that scan, in
    // place of the one given at creation. False with Error() set.
    virtual bool SetStartTime(int64_t creationTime) = 0;
    // Appends one recorded scan; `scanIndex` counts recorded scans from 0.
    virtual bool WriteScan(int64_t scanIndex, std::span<const int16_t> samples) = 0;
    // Makes what was written so far readable from the file as it lies, then
    // appends the markers published since to the markers journal beside it
    // (created at the first checkpoint), so that a crash loses no more than
    // the scans and markers since the last checkpoint.
    virtual bool Checkpoint() = 0;
    // Puts the recording, as the last checkpoint left it, and its info file in
    // the target's place; true at once when they are there already.
    virtual bool TakePlace() = 0;
    virtual bool Placed() const = 0;
    // Drops a recording that has not taken its place: the target and its info
    // file keep every byte, a data file that this run created is removed.
    virtual void Discard() = 0;
    // Completes the recording with the markers, puts it in place if it is not
    // yet, and closes it; the journal is removed once the file holds the
    // markers, else kept for the repair. After a failed write the file is cut
    // back to its last whole scan or line and is left describing only what
    // reached the disk.
    virtual SinkEnd Finish(const MarkerTable& markers, int markerCount) = 0;
    // Sample bytes written so far.
    virtual uint64_t BytesWritten() const = 0;
    // Scans that reached the file, also after a failure (valid after Finish).
    virtual int64_t ScansKept() const = 0;
    // The first failure, naming the file and the system's reason.
    virtual const std::string& Error() const = 0;
};

struct SinkSettings {
    FileType type = FileType::WinDaq;
    std::string fileName;
    std::span<const ChannelInfo> channels;
    double period = 0.0;
    int64_t headerScans = 0;   // the scan count the WinDaq header announces
    int64_t creationTime = 0;  // seconds since 1970
};

// The sink for `settings`; it creates no file before Prepare and Open.
// `header` receives the WinDaq header image.
std::unique_ptr<RecordingSink> CreateSink(const SinkSettings& settings, FileOpener& opener,
                                          std::span<uint8_t, 1156> header);

}  // namespace tamix
