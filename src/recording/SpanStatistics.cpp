#include "recording/SpanStatistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/ChannelLabel.h"
#include "recording/CompensatedSum.h"
#include "recording/EngineeringValue.h"
#include "recording/FrequencyEstimate.h"

namespace tamix {
namespace {

constexpr int64_t kSumBlock = int64_t{1} << MinMaxPyramid::kSumShift;
// Scans read at once: a few hundred KiB, and at least one sum block.
constexpr int64_t kReadChunk = int64_t{1} << 14;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A channel's extreme so far and where it first is: a scan, or the sum block
// that holds it, searched once it is known to hold the span's extreme.
template <typename T>
struct Extreme {
    T value;
    int64_t at = -1;
    bool inBlock = false;
};

struct SampleTotals {
    int64_t sum = 0;
    uint64_t squares = 0;  // each below 2^31: room for 2^33 scans
    Extreme<int16_t> min{std::numeric_limits<int16_t>::max()};
    Extreme<int16_t> max{std::numeric_limits<int16_t>::min()};
};

struct ValueTotals {
    CompensatedSum sum;
    CompensatedSum squares;
    Extreme<double> min{kInf};
    Extreme<double> max{-kInf};
};

// The span is gone through in scan order, its parts left end, whole sum
// blocks, right end; a strict comparison keeps the first scan that holds an
// extreme. The first value is always taken: a channel clipped at a rail for
// the whole span equals the starting value and must still have a time.
template <typename T>
void Take(Extreme<T>& e, T value, int64_t at, bool inBlock, bool lower) {
    if (e.at < 0 || (lower ? value < e.value : value > e.value)) e = {value, at, inBlock};
}

class SpanReader {
  public:
    SpanReader(RecordingReader& reader, const MinMaxPyramid& overview,
               std::span<const std::size_t> channels)
        : reader_(reader),
          overview_(overview),
          channels_(channels),
          n_(reader.Info().channels.size()) {}

    bool AddSamples(int64_t from, int64_t to, std::vector<SampleTotals>& totals) {
        for (int64_t s = from; s < to; s += kReadChunk) {
            const int64_t count = std::min(kReadChunk, to - s);
            if (!ReadSamples(s, count)) return false;
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                SampleTotals& t = totals[c];
                const int16_t* v = samples_.data() + channels_[c];
                for (int64_t i = 0; i < count; ++i, v += n_) {
                    t.sum += *v;
                    t.squares += static_cast<uint64_t>(int64_t{*v} * *v);
                    Take(t.min, *v, s + i, false, true);
                    Take(t.max, *v, s + i, false, false);
                }
            }
        }
        return true;
    }

    void AddSampleBlocks(int64_t from, int64_t to, std::vector<SampleTotals>& totals) const {
        const std::span<const SampleSums> sums = overview_.SampleBlockSums();
        for (int64_t b = from; b < to; ++b) {
            const std::span<const SampleMinMax> extents = overview_.SampleBlockExtents(b);
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                const std::size_t k = channels_[c];
                const SampleSums& s = sums[static_cast<std::size_t>(b) * n_ + k];
                totals[c].sum += s.sum;
                totals[c].squares += static_cast<uint64_t>(s.squares);
                Take(totals[c].min, extents[k].min, b, true, true);
                Take(totals[c].max, extents[k].max, b, true, false);
            }
        }
    }

    // Turns a sum block that holds an extreme into the first scan holding it.
    bool Locate(Extreme<int16_t>& e, std::size_t k) {
        if (!e.inBlock) return true;
        if (!ReadSamples(e.at * kSumBlock, kSumBlock)) return false;
        for (int64_t i = 0; i < kSumBlock; ++i) {
            if (samples_[static_cast<std::size_t>(i) * n_ + k] == e.value) {
                e = {e.value, e.at * kSumBlock + i, false};
                return true;
            }
        }
        mismatch_ = true;
        return false;
    }

    bool AddValues(int64_t from, int64_t to, std::vector<ValueTotals>& totals) {
        for (int64_t s = from; s < to; s += kReadChunk) {
            const int64_t count = std::min(kReadChunk, to - s);
            if (!ReadValues(s, count)) return false;
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                ValueTotals& t = totals[c];
                const double shift = overview_.ValueShift(channels_[c]);
                const double* v = values_.data() + channels_[c];
                for (int64_t i = 0; i < count; ++i, v += n_) {
                    const double d = *v - shift;
                    t.sum.Add(d);
                    t.squares.Add(d * d);
                    Take(t.min, *v, s + i, false, true);
                    Take(t.max, *v, s + i, false, false);
                }
            }
        }
        return true;
    }

    void AddValueBlocks(int64_t from, int64_t to, std::vector<ValueTotals>& totals) const {
        const std::span<const ValueSums> sums = overview_.ValueBlockSums();
        for (int64_t b = from; b < to; ++b) {
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                const ValueSums& s = sums[static_cast<std::size_t>(b) * n_ + channels_[c]];
                totals[c].sum.Add(s.sum);
                totals[c].squares.Add(s.squares);
                Take(totals[c].min, s.min, b, true, true);
                Take(totals[c].max, s.max, b, true, false);
            }
        }
    }

    bool Locate(Extreme<double>& e, std::size_t k) {
        if (!e.inBlock) return true;
        if (!ReadValues(e.at * kSumBlock, kSumBlock)) return false;
        for (int64_t i = 0; i < kSumBlock; ++i) {
            if (values_[static_cast<std::size_t>(i) * n_ + k] == e.value) {
                e = {e.value, e.at * kSumBlock + i, false};
                return true;
            }
        }
        mismatch_ = true;
        return false;
    }

    // The chosen channels' values over [from, to), one vector each; WinDaq
    // files are read as their samples, a quarter of the values' bytes.
    bool Signals(int64_t from, int64_t to, std::vector<std::vector<float>>& out) {
        out.resize(channels_.size());
        for (auto& v : out) v.resize(static_cast<std::size_t>(to - from));
        const std::vector<ChannelInfo>& info = reader_.Info().channels;
        for (int64_t s = from; s < to; s += kReadChunk) {
            const int64_t count = std::min(kReadChunk, to - s);
            const bool bySample = overview_.BySample();
            if (bySample ? !ReadSamples(s, count) : !ReadValues(s, count)) return false;
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                float* into = out[c].data() + (s - from);
                const std::size_t k = channels_[c];
                if (bySample) {
                    const int16_t* v = samples_.data() + k;
                    for (int64_t i = 0; i < count; ++i, v += n_) {
                        into[i] = static_cast<float>(EngineeringValue(*v, info[k]));
                    }
                } else {
                    const double* v = values_.data() + k;
                    for (int64_t i = 0; i < count; ++i, v += n_) into[i] = static_cast<float>(*v);
                }
            }
        }
        return true;
    }

    // Whether a block did not hold what the overview says: the file changed.
    bool Mismatch() const { return mismatch_; }

  private:
    bool ReadSamples(int64_t first, int64_t count) {
        samples_.resize(static_cast<std::size_t>(count) * n_);
        return reader_.ReadSamples(first, count, samples_);
    }
    bool ReadValues(int64_t first, int64_t count) {
        values_.resize(static_cast<std::size_t>(count) * n_);
        return reader_.ReadValues(first, count, values_);
    }

    RecordingReader& reader_;
    const MinMaxPyramid& overview_;
    std::span<const std::size_t> channels_;
    std::size_t n_;
    std::vector<int16_t> samples_;
    std::vector<double> values_;
    bool mismatch_ = false;
};

double TimeOf(int64_t scan, double period) {
    return scan < 0 ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(scan) * period;
}

// Sample totals in the channel's engineering units. The spread is taken
// around q, the mean's integer part: the sum of (x - q)^2 fits 64 bits, and
// computed in unsigned arithmetic, whose wrapping terms cancel exactly, it is
// exact whatever the offset.
void FromSamples(const SampleTotals& t, int64_t scans, const ChannelInfo& ch, double period,
                 ChannelStatistics& out) {
    int64_t q = t.sum / scans;
    if (t.sum % scans != 0 && t.sum < 0) --q;
    const int64_t r = t.sum - q * scans;  // 0 <= r < scans
    const auto uq = static_cast<uint64_t>(q);
    const uint64_t around =
        t.squares - 2 * uq * static_cast<uint64_t>(t.sum) + static_cast<uint64_t>(scans) * uq * uq;
    const auto n = static_cast<double>(scans);
    const auto rd = static_cast<double>(r);
    const double variance = std::max(0.0, (static_cast<double>(around) - rd * (rd / n)) / n);
    const double meanSample = static_cast<double>(q) + rd / n;
    out.mean = meanSample / kCountsPerVolt * ch.valueAt1V + ch.valueAt0V;
    out.sd = std::sqrt(variance) / kCountsPerVolt * std::abs(ch.valueAt1V);
    const double lo = EngineeringValue(t.min.value, ch);
    const double hi = EngineeringValue(t.max.value, ch);
    // A negative slope turns the smallest sample into the largest value.
    const bool flipped = lo > hi;
    out.min = flipped ? hi : lo;
    out.max = flipped ? lo : hi;
    out.minTime = TimeOf(flipped ? t.max.at : t.min.at, period);
    out.maxTime = TimeOf(flipped ? t.min.at : t.max.at, period);
}

void FromValues(const ValueTotals& t, int64_t scans, double shift, double period,
                ChannelStatistics& out) {
    const auto n = static_cast<double>(scans);
    const double d = t.sum.Value() / n;
    const double variance = std::max(0.0, t.squares.Value() / n - d * d);
    out.mean = shift + d;
    out.sd = std::sqrt(variance);
    out.min = t.min.value;
    out.max = t.max.value;
    out.minTime = TimeOf(t.min.at, period);
    out.maxTime = TimeOf(t.max.at, period);
}

std::string Fixed3(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return {buf, r.ptr};
}

std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
    return {buf, r.ptr};
}

}  // namespace

bool ComputeSpanStatistics(RecordingReader& reader, MinMaxPyramid& overview, int64_t first,
                           int64_t last, std::span<const std::size_t> channels, SpanStatistics& out,
                           std::string& error) {
    const RecordingInfo& info = reader.Info();
    const std::size_t n = info.channels.size();
    if (first < 0 || last > info.scanCount || first >= last) {
        error = info.fileName + ": the span from scan " + std::to_string(first) + " to " +
                std::to_string(last) + " holds none of its " + std::to_string(info.scanCount) +
                " scans";
        return false;
    }
    if (!overview.HasSums() || overview.Scans() != info.scanCount || overview.Channels() != n ||
        overview.BySample() != (info.format == RecordingFormat::WinDaq)) {
        error = info.fileName + ": the overview was not built with its sums from this recording";
        return false;
    }
    for (const std::size_t k : channels) {
        if (k >= n) {
            error = info.fileName + ": it has no channel " + std::to_string(k + 1);
            return false;
        }
    }
    out = {};
    out.first = first;
    out.last = last;
    out.duration = static_cast<double>(last - first) * info.period;
    const int64_t scans = last - first;
    // Whole sum blocks [i, j) from the overview, the scans around them from the file.
    const int64_t blocks = overview.SumBlocks();
    const int64_t i = std::min((first + kSumBlock - 1) / kSumBlock, blocks);
    const int64_t j = std::max(i, std::min(last / kSumBlock, blocks));
    const int64_t leftEnd = i < j ? i * kSumBlock : last;
    SpanReader span(reader, overview, channels);
    const auto failed = [&] {
        error = span.Mismatch() ? info.fileName + ": the file was changed by another program"
                                : reader.Error();
        return false;
    };
    out.channels.resize(channels.size());
    if (overview.BySample()) {
        std::vector<SampleTotals> totals(channels.size());
        if (!span.AddSamples(first, leftEnd, totals)) return failed();
        if (i < j) {
            span.AddSampleBlocks(i, j, totals);
            if (!span.AddSamples(j * kSumBlock, last, totals)) return failed();
        }
        for (std::size_t c = 0; c < channels.size(); ++c) {
            if (!span.Locate(totals[c].min, channels[c]) ||
                !span.Locate(totals[c].max, channels[c])) {
                return failed();
            }
            FromSamples(totals[c], scans, info.channels[channels[c]], info.period, out.channels[c]);
        }
    } else {
        std::vector<ValueTotals> totals(channels.size());
        if (!span.AddValues(first, leftEnd, totals)) return failed();
        if (i < j) {
            span.AddValueBlocks(i, j, totals);
            if (!span.AddValues(j * kSumBlock, last, totals)) return failed();
        }
        for (std::size_t c = 0; c < channels.size(); ++c) {
            if (!span.Locate(totals[c].min, channels[c]) ||
                !span.Locate(totals[c].max, channels[c])) {
                return failed();
            }
            FromValues(totals[c], scans, overview.ValueShift(channels[c]), info.period,
                       out.channels[c]);
        }
    }

    // The frequency needs the samples themselves.
    const int64_t signalEnd = std::min(last, first + kFrequencyScans);
    std::vector<std::vector<float>> signals;
    if (!span.Signals(first, signalEnd, signals)) return failed();
    for (std::size_t c = 0; c < channels.size(); ++c) {
        ChannelStatistics& s = out.channels[c];
        const ChannelInfo& ch = info.channels[channels[c]];
        s.name = ChannelLabel(ch, channels[c]);
        s.unit = std::string(ch.Unit());
        s.scans = scans;
        s.pp = s.max - s.min;
        s.rms = std::sqrt(s.mean * s.mean + s.sd * s.sd);
        s.frequencyHz = EstimateFrequency(signals[c], info.period);
    }
    if (signalEnd < last) {
        out.notes.push_back(
            "The frequency was estimated from the first " + std::to_string(signalEnd - first) +
            " scans of the span (" + Fixed3(static_cast<double>(first) * info.period) + " s to " +
            Fixed3(static_cast<double>(signalEnd) * info.period) + " s), not from all of it.");
    }
    return true;
}

std::string StatisticsTable(const SpanStatistics& stats) {
    std::string text =
        "name\tunit\tscans\tmin\tmin_at_s\tmax\tmax_at_s\tp-p\tmean\trms\tsd\tfreq_hz\n";
    for (const ChannelStatistics& c : stats.channels) {
        text += c.name + '\t' + c.unit + '\t' + std::to_string(c.scans);
        for (const double v : {c.min, c.minTime, c.max, c.maxTime, c.pp, c.mean, c.rms, c.sd})
            text += '\t' + Number(v);
        text += '\t' + (c.frequencyHz ? Number(*c.frequencyHz) : std::string("\u2014")) + '\n';
    }
    return text;
}

}  // namespace tamix
