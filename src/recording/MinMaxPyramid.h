// Min-max summary of a recording for drawing it at any zoom: for every block of
// 2^k scans the smallest and largest value of each channel, built once in one
// streaming pass. A 4 GiB recording needs a few tens of megabytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

struct MinMax {
    float min = 0;
    float max = 0;
};

// Built from one reader and queried with the same reader; one thread at a time.
class MinMaxPyramid {
  public:
    // Blocks of the finest level hold 2^baseShift scans.
    explicit MinMaxPyramid(int baseShift = 10) : baseShift_(baseShift) {}

    // One pass over the whole recording; false with `error` when reading fails
    // or `progress` cancels.
    bool Build(RecordingReader& reader, const ProgressCallback& progress, std::string& error);

    // Exact min and max of every channel over scans [first, last).
    bool Range(RecordingReader& reader, int64_t first, int64_t last, std::span<MinMax> perChannel);

    // Splits scans [first, last) into `columns` equal parts (parts wider than 16
    // blocks meet on block boundaries) and gives each part's min and max per
    // channel: out[column * channels + channel].
    bool Columns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                 std::span<MinMax> out);

    std::size_t MemoryBytes() const;
    int Levels() const { return static_cast<int>(levels_.size()); }

  private:
    bool RawRange(RecordingReader& reader, int64_t first, int64_t last,
                  std::span<MinMax> perChannel);
    void Merge(std::span<MinMax> into, std::span<const MinMax> from) const;

    int baseShift_;
    std::size_t channels_ = 0;
    int64_t scans_ = 0;
    // levels_[l] holds blocks of 2^(baseShift + l) scans, `channels_` entries each.
    std::vector<std::vector<MinMax>> levels_;
    std::vector<double> scratch_;
};

}  // namespace tamix
