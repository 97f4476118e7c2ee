// Min-max summary of a recording for drawing it at any zoom: for every block of
// 2^k scans the smallest and largest value of each channel, built once in one
// streaming pass. WinDaq recordings are summarised as 16-bit samples (a 4 GiB
// recording needs 32 MiB in blocks of 512 scans) and calibrated only when
// queried. The same pass keeps sums and sums of squares over coarser blocks
// (2^13 scans: 4 MiB more for 4 GiB), from which a span's mean and spread
// follow without reading it.
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

// One channel's sums over a sum block of a WinDaq recording: its stored
// samples with the event bits cleared, exact as integers (2^13 squares of
// 2^30 at most stay far below 2^63).
struct SampleSums {
    int64_t sum = 0;
    int64_t squares = 0;
};

// One channel's sums over a sum block of any other recording: compensated
// double sums of the values less the channel's shift (its first value), so
// that a small signal on a large offset keeps its digits, and the block's
// exact extremes, which the float levels only round.
struct ValueSums {
    double sum = 0;
    double squares = 0;
    double min = 0;
    double max = 0;
};

// Built from one reader and queried with the same reader; one thread at a time.
// Build may use further threads of its own, which end before it returns.
class MinMaxPyramid {
  public:
    // Blocks of the finest level hold 2^baseShift scans (at most 2^kSumShift
    // when the sums are kept); `sums` false builds the min-max levels only.
    explicit MinMaxPyramid(int baseShift = 9, bool sums = true)
        : baseShift_(baseShift), keepSums_(sums && baseShift <= kSumShift) {}

    // Sum blocks hold 2^kSumShift scans.
    static constexpr int kSumShift = 13;

    // One pass over the whole recording; false with `error` when reading fails
    // or `progress` cancels. `progress` is called on the calling thread.
    bool Build(RecordingReader& reader, const ProgressCallback& progress, std::string& error);

    // Takes in the scans that `reader`, the reader it is queried with, has
    // beyond those summarised: the recording grew while it was being made.
    // Only the blocks that grew are read; the coarser levels above them are
    // merged again. False with `error` when reading fails; the overview then
    // keeps what it had.
    bool Extend(RecordingReader& reader, std::string& error);

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

    // Memory of the min-max levels, and of the sums beside them.
    std::size_t MemoryBytes() const;
    std::size_t SumBytes() const;
    int Levels() const;

    // What the last Build saw.
    std::size_t Channels() const { return channels_; }
    int64_t Scans() const { return scans_; }
    // Whether it summarised stored samples (WinDaq) or values, and which bits of
    // a stored sample are signal.
    bool BySample() const { return bySample_; }
    uint16_t SampleMask() const { return sampleMask_; }
    // Whether it kept the sums.
    bool HasSums() const { return keepSums_; }
    // Whole sum blocks from the recording's first scan; a partial last one is
    // left to reading. Entry b * Channels() + k is block b of channel k.
    int64_t SumBlocks() const;
    std::span<const SampleSums> SampleBlockSums() const { return sampleSums_; }
    std::span<const ValueSums> ValueBlockSums() const { return valueSums_; }
    // The stored-sample extent of sum block b per channel (WinDaq recordings).
    std::span<const SampleMinMax> SampleBlockExtents(int64_t b) const;
    // What channel k's ValueSums are taken around.
    double ValueShift(std::size_t k) const { return k < shifts_.size() ? shifts_[k] : 0.0; }

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

    // The min-max of `count` base blocks from block `firstBlock`, whose scans
    // start at `samples` or `values`, into `base`, with the sums of the whole
    // sum blocks among them; threads may summarise apart blocks at once.
    void SummariseSamples(const int16_t* samples, int64_t firstBlock, int64_t count,
                          std::vector<SampleMinMax>& base);
    void SummariseValues(const double* values, int64_t firstBlock, int64_t count,
                         std::vector<MinMax>& base) const;

    // Adds the sums of the whole sum blocks among `count` scans from scan
    // `first` (a multiple of the sum block) at `samples`.
    void SumSamples(const int16_t* samples, int64_t first, int64_t count);
    void SumValues(const double* values, int64_t first, int64_t count);

    int baseShift_;
    bool keepSums_;
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
    std::vector<SampleSums> sampleSums_;
    std::vector<ValueSums> valueSums_;
    std::vector<double> shifts_;
    std::vector<int16_t> sampleScratch_;
    std::vector<SampleMinMax> rangeScratch_;
    std::vector<SampleMinMax> columnScratch_;
    std::vector<double> scratch_;
};

}  // namespace tamix
