// Min-max summary of a recording for drawing it at any zoom: for every block of
// 2^k scans the smallest and largest value of each channel, built once in one
// streaming pass. WinDaq recordings are summarised as 16-bit samples (a 4 GiB
// recording needs 32 MiB in blocks of 512 scans) and calibrated only when
// queried.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"
#include "recording/SampleScan.h"

namespace tamix {

struct MinMax {
    float min = 0;
    float max = 0;
};

// Built from one reader and queried with the same reader; one thread at a time.
// Build may use further threads of its own, which end before it returns.
class MinMaxPyramid {
  public:
    // Blocks of the finest level hold 2^baseShift scans.
    explicit MinMaxPyramid(int baseShift = 9) : baseShift_(baseShift) {}

    // One pass over the whole recording; false with `error` when reading fails
    // or `progress` cancels. `progress` is called on the calling thread.
    bool Build(RecordingReader& reader, const ProgressCallback& progress, std::string& error);

    // Exact min and max of every channel's engineering values over scans
    // [first, last), as floats.
    bool Range(RecordingReader& reader, int64_t first, int64_t last, std::span<MinMax> perChannel);

    // Splits scans [first, last) into `columns` parts and gives each part's
    // exact min and max per channel: out[column * channels + channel]. Column c
    // covers the scans from ColumnStart(c) up to ColumnStart(c + 1).
    bool Columns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                 std::span<MinMax> out);

    // First scan of column c of `columns` over [first, last); c == columns gives
    // `last`. Columns are equal parts, except that parts at least two blocks wide
    // meet on the nearest block boundary, so that no scan is read to draw them;
    // the shift is at most half a block, below a quarter of a column. A column
    // narrower than one scan covers the one scan it starts on.
    int64_t ColumnStart(int64_t first, int64_t last, int columns, int c) const;

    std::size_t MemoryBytes() const;
    int Levels() const;

  private:
    bool BuildSamples(RecordingReader& reader, const ProgressCallback& progress,
                      std::string& error);
    bool BuildValues(RecordingReader& reader, const ProgressCallback& progress, std::string& error);
    // Merge the scans [first, last) read from the file; samples keep their
    // event bits until the caller clears them.
    bool RawSamples(RecordingReader& reader, int64_t first, int64_t last,
                    std::span<SampleMinMax> perChannel);
    bool RawValues(RecordingReader& reader, int64_t first, int64_t last,
                   std::span<MinMax> perChannel);
    // Scans [first, first + count) of stored words into sampleScratch_.
    bool ReadStored(RecordingReader& reader, int64_t first, int64_t count);
    bool NarrowColumns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                       std::span<MinMax> out);
    // Sample extents (event bits cleared here) to the channels' values.
    void Calibrate(std::span<SampleMinMax> extents, std::span<MinMax> out) const;

    int baseShift_;
    std::size_t channels_ = 0;
    int64_t scans_ = 0;
    // WinDaq recordings: exact stored samples (event bits cleared), calibrated
    // per query. Other recordings: engineering values as floats.
    bool bySample_ = false;
    bool copyable_ = false;  // the reader copies its stored words on any thread
    uint16_t sampleMask_ = 0xFFFF;
    std::vector<ChannelInfo> calibration_;
    // levels[l] holds blocks of 2^(baseShift + l) scans, `channels_` entries each;
    // only one of the two is filled.
    std::vector<std::vector<SampleMinMax>> sampleLevels_;
    std::vector<std::vector<MinMax>> valueLevels_;
    std::vector<int16_t> sampleScratch_;
    std::vector<SampleMinMax> rangeScratch_;
    std::vector<SampleMinMax> columnScratch_;
    std::vector<double> scratch_;
};

}  // namespace tamix
