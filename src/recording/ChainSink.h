// A run's recording as a chain of files that follow one another without a
// gap: a new file every so many scans, and before a WinDaq file would be
// full. The next file is made ahead and the one before is completed later,
// both on a thread of their own, so that a switch on the worker's hot path
// only moves a pointer. Worker thread only, like every sink.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recording/FileChores.h"
#include "recording/RecordingSink.h"
#include "recording/WdqWriter.h"

namespace tamix {

struct ChainSettings {
    SinkSettings first;             // the run's target, and what every file shares
    int64_t fileScans = 0;          // scans after which the next file begins; 0: never
    bool fileScansAreFull = false;  // the WinDaq limit, not the split, sets fileScans
    int64_t runScans = 0;           // the run's scan limit
};

// The most scans a WinDaq file of `channelCount` channels holds with
// `limitBytes` of samples at most (the 32-bit size field's limit, or less).
int64_t WdqFileScans(int channelCount, uint64_t limitBytes);

class ChainSink final : public RecordingSink {
  public:
    ChainSink(const ChainSettings& settings, FileOpener& opener,
              std::span<uint8_t, kWdqHeaderBytes> header);
    ~ChainSink() override;
    ChainSink(const ChainSink&) = delete;
    ChainSink& operator=(const ChainSink&) = delete;

    bool Prepare(const MarkerTable& markers) override;
    bool Open() override;
    bool Begin(const MarkerTable& markers) override;
    bool SetStartTime(int64_t creationTime) override;
    // Begins the next file first when the current one holds its share.
    bool WriteScan(int64_t scanIndex, std::span<const int16_t> samples) override;
    // Also hands the markers published since to the files whose scans they
    // mark, makes the next file when its switch is near and completes a
    // previous file once no marker can be late for it any more.
    bool Checkpoint() override;
    bool TakePlace() override;
    // Whether the first file has taken its place.
    bool Placed() const override { return placed_; }
    void Discard() override;
    SinkEnd Finish(const MarkerTable& markers, int markerCount) override;
    // The current file's sample bytes.
    uint64_t BytesWritten() const override;
    // The scans of every file of the chain.
    int64_t ScansKept() const override { return kept_; }
    const std::string& Error() const override { return error_.empty() ? info_ : error_; }

    // Files that hold scans so far.
    int64_t Files() const { return position_; }

  private:
    struct File;
    struct Prepared;

    std::unique_ptr<File> MakeFile(int64_t position, int64_t first);
    bool Switch();
    void PrepareNext();
    void Distribute(int count, bool all);
    File* FileOf(int64_t scan, bool all);
    void Retire(bool all);
    void Collect();
    void FinishFile(File& file);
    void Note(const File& file, SinkEnd end);
    bool Fail(const std::string& error);

    ChainSettings settings_;
    FileOpener& opener_;
    std::span<uint8_t, kWdqHeaderBytes> firstHeader_;
    std::unique_ptr<File> current_;
    std::vector<std::unique_ptr<File>> retiring_;   // written, still taking markers
    std::vector<std::unique_ptr<File>> finishing_;  // being completed on the chores' thread
    std::unique_ptr<Prepared> prepared_;
    int64_t position_ = 1;
    int64_t written_ = 0;
    int64_t graceScans_ = 0;
    int64_t aheadScans_ = 0;
    const MarkerTable* runMarkers_ = nullptr;
    int taken_ = 1;  // the run's markers handed to files; the start marker is the first file's
    bool placed_ = false;
    bool failed_ = false;
    SinkEnd end_ = SinkEnd::Ok;
    int64_t kept_ = 0;
    std::string error_;
    std::string info_;
    FileChores chores_;  // last: its thread ends before the files it works on go
};

}  // namespace tamix
