#include "recording/MinMaxPyramid.h"

#include <algorithm>
#include <limits>

namespace tamix {
namespace {

constexpr MinMax kEmpty{std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()};

}  // namespace

void MinMaxPyramid::Merge(std::span<MinMax> into, std::span<const MinMax> from) const {
    for (std::size_t k = 0; k < channels_; ++k) {
        into[k].min = std::min(into[k].min, from[k].min);
        into[k].max = std::max(into[k].max, from[k].max);
    }
}

bool MinMaxPyramid::Build(RecordingReader& reader, const ProgressCallback& progress,
                          std::string& error) {
    const RecordingInfo& info = reader.Info();
    channels_ = info.channels.size();
    scans_ = info.scanCount;
    levels_.clear();
    const int64_t block = int64_t{1} << baseShift_;
    const int64_t blocks = scans_ / block;
    std::vector<MinMax> base(static_cast<std::size_t>(blocks) * channels_, kEmpty);
    // Reads many blocks at once; a partial last block is left to the raw path.
    const int64_t chunkBlocks = std::max<int64_t>(1, (int64_t{1} << 16) / block);
    scratch_.resize(static_cast<std::size_t>(chunkBlocks * block) * channels_);
    for (int64_t b = 0; b < blocks; b += chunkBlocks) {
        const int64_t count = std::min(chunkBlocks, blocks - b);
        if (!reader.ReadValues(b * block, count * block, scratch_)) {
            error = reader.Error();
            return false;
        }
        for (int64_t i = 0; i < count; ++i) {
            MinMax* out = &base[static_cast<std::size_t>(b + i) * channels_];
            const double* v = &scratch_[static_cast<std::size_t>(i * block) * channels_];
            for (int64_t s = 0; s < block; ++s, v += channels_) {
                for (std::size_t k = 0; k < channels_; ++k) {
                    const auto f = static_cast<float>(v[k]);
                    out[k].min = std::min(out[k].min, f);
                    out[k].max = std::max(out[k].max, f);
                }
            }
        }
        if (progress && !progress((b + count) * block, scans_)) {
            error = info.fileName + ": cancelled";
            return false;
        }
    }
    levels_.push_back(std::move(base));
    while (levels_.back().size() / channels_ >= 2) {
        const std::vector<MinMax>& below = levels_.back();
        const std::size_t count = below.size() / channels_ / 2;
        std::vector<MinMax> level(count * channels_);
        for (std::size_t i = 0; i < count; ++i) {
            const std::span<MinMax> out(&level[i * channels_], channels_);
            std::copy_n(&below[2 * i * channels_], channels_, out.begin());
            Merge(out, std::span(&below[(2 * i + 1) * channels_], channels_));
        }
        levels_.push_back(std::move(level));
    }
    if (progress) progress(scans_, scans_);
    return true;
}

bool MinMaxPyramid::RawRange(RecordingReader& reader, int64_t first, int64_t last,
                             std::span<MinMax> perChannel) {
    constexpr int64_t kChunk = 4096;
    scratch_.resize(static_cast<std::size_t>(kChunk) * channels_);
    for (int64_t s = first; s < last; s += kChunk) {
        const int64_t count = std::min(kChunk, last - s);
        if (!reader.ReadValues(s, count, scratch_)) return false;
        const double* v = scratch_.data();
        for (int64_t i = 0; i < count; ++i, v += channels_) {
            for (std::size_t k = 0; k < channels_; ++k) {
                const auto f = static_cast<float>(v[k]);
                perChannel[k].min = std::min(perChannel[k].min, f);
                perChannel[k].max = std::max(perChannel[k].max, f);
            }
        }
    }
    return true;
}

bool MinMaxPyramid::Range(RecordingReader& reader, int64_t first, int64_t last,
                          std::span<MinMax> perChannel) {
    if (perChannel.size() < channels_ || first < 0 || last > scans_ || first >= last) {
        return false;
    }
    std::fill_n(perChannel.begin(), channels_, kEmpty);
    const int64_t block = int64_t{1} << baseShift_;
    const auto blocks = levels_.empty() ? 0 : static_cast<int64_t>(levels_[0].size() / channels_);
    int64_t i = std::min((first + block - 1) / block, blocks);
    int64_t j = std::min(last / block, blocks);
    if (i >= j) return RawRange(reader, first, last, perChannel);
    if (!RawRange(reader, first, i * block, perChannel)) return false;
    if (!RawRange(reader, j * block, last, perChannel)) return false;
    // Bottom-up over the levels: take an odd left or right node, then halve.
    for (std::size_t l = 0; i < j; ++l, i >>= 1, j >>= 1) {
        const std::vector<MinMax>& level = levels_[l];
        if ((i & 1) != 0) {
            Merge(perChannel,
                  std::span(&level[static_cast<std::size_t>(i) * channels_], channels_));
            ++i;
        }
        if ((j & 1) != 0) {
            --j;
            Merge(perChannel,
                  std::span(&level[static_cast<std::size_t>(j) * channels_], channels_));
        }
    }
    return true;
}

bool MinMaxPyramid::Columns(RecordingReader& reader, int64_t first, int64_t last, int columns,
                            std::span<MinMax> out) {
    if (columns <= 0 || out.size() < static_cast<std::size_t>(columns) * channels_) return false;
    const int64_t span = last - first;
    const int64_t block = int64_t{1} << baseShift_;
    // Columns many blocks wide meet on block boundaries, so that no column reads
    // raw scans; the shift is below a sixteenth of a column, less than a pixel.
    const bool snap = span / columns >= 16 * block;
    const auto boundary = [&](int c) {
        if (c == 0) return first;
        if (c == columns) return last;
        int64_t at = first + span * c / columns;
        if (snap) at = std::clamp((at + block / 2) / block * block, first, last);
        return at;
    };
    for (int c = 0; c < columns; ++c) {
        const int64_t a = boundary(c);
        // A column narrower than one scan shows the scan it falls on.
        const int64_t b = std::max(boundary(c + 1), a + 1);
        if (!Range(reader, a, std::min(b, scans_), out.subspan(c * channels_, channels_))) {
            return false;
        }
    }
    return true;
}

std::size_t MinMaxPyramid::MemoryBytes() const {
    std::size_t bytes = 0;
    for (const auto& level : levels_) bytes += level.size() * sizeof(MinMax);
    return bytes;
}

}  // namespace tamix
