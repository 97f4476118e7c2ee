// Welch's averaged periodogram through FFTW's real-to-complex transforms.
#include "recording/PowerDensity.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>

namespace tamix {
namespace {

// FFTW's planner is not thread-safe, its plans are: each segment length is
// planned once for the process, under a lock, and run on buffers of each
// computation's own (fftw_malloc gives them the planned alignment).
class PlanCache {
  public:
    ~PlanCache() {
        for (auto& [size, plan] : plans_) fftw_destroy_plan(plan);
    }

    fftw_plan Get(std::size_t size) {
        const std::lock_guard lock(mutex_);
        auto it = plans_.find(size);
        if (it != plans_.end()) return it->second;
        double* in = fftw_alloc_real(size);
        fftw_complex* out = fftw_alloc_complex(size / 2 + 1);
        fftw_plan plan = nullptr;
        if (in != nullptr && out != nullptr) {
            // Measuring would run trial transforms for seconds at the largest
            // sizes; powers of two are planned well by the estimate.
            plan = fftw_plan_dft_r2c_1d(static_cast<int>(size), in, out, FFTW_ESTIMATE);
        }
        fftw_free(in);
        fftw_free(out);
        if (plan != nullptr) plans_.emplace(size, plan);
        return plan;
    }

  private:
    std::mutex mutex_;
    std::map<std::size_t, fftw_plan> plans_;
};

PlanCache& Plans() {
    static PlanCache cache;
    return cache;
}

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};

// One channel's running state: the segment being filled, its power sums and
// the moments of every scan used.
struct ChannelState {
    std::vector<double> segment;
    std::vector<double> power;
    double shift = 0;  // the first value, which keeps the moments' sums small
    double sum = 0;
    double sumSquares = 0;
};

std::string NotFinite(const RecordingInfo& info, int64_t scan, std::size_t channel, double v) {
    const std::string where = info.format == RecordingFormat::Text
                                  ? "line " + std::to_string(scan + 1)
                                  : "scan " + std::to_string(scan);
    return info.fileName + ": " + where + " holds a value that is not a finite number (" +
           std::to_string(v) + ") in channel " + std::to_string(channel + 1) +
           ", so no power density can be computed";
}

}  // namespace

bool PowerDensityAvailable() {
    return true;
}

bool ComputePowerDensity(RecordingReader& reader, int64_t first, int64_t last,
                         std::span<const std::size_t> channels, const ProgressCallback& progress,
                         PowerDensity& out, std::string& error) {
    const RecordingInfo& info = reader.Info();
    PowerDensityShape shape;
    if (!ShapePowerDensity(first, last, shape, error)) {
        error = info.fileName + ": " + error;
        return false;
    }
    if (last > info.scanCount) {
        error = info.fileName + ": the span ends at scan " + std::to_string(last) +
                ", after the recording's " + std::to_string(info.scanCount) + " scans";
        return false;
    }
    const std::size_t n = info.channels.size();
    for (const std::size_t c : channels) {
        if (c >= n) {
            error = info.fileName + ": the recording has no channel " + std::to_string(c + 1);
            return false;
        }
    }
    if (info.period <= 0) {
        error = info.fileName + ": the recording states no scan rate";
        return false;
    }
    const std::size_t size = shape.segmentScans;
    const std::size_t half = size / 2;
    const std::size_t bins = half + 1;
    fftw_plan plan = Plans().Get(size);
    const std::unique_ptr<double, FftwFree> in(fftw_alloc_real(size));
    const std::unique_ptr<fftw_complex, FftwFree> psd(fftw_alloc_complex(bins));
    if (plan == nullptr || !in || !psd) {
        error = info.fileName + ": no memory for a transform of " + std::to_string(size) + " scans";
        return false;
    }

    // The periodic Hann window, as density estimators use it (its period is
    // the segment, so that overlapping halves add up to a constant).
    std::vector<double> window(size);
    double windowPower = 0;
    for (std::size_t i = 0; i < size; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                         static_cast<double>(size));
        windowPower += window[i] * window[i];
    }

    std::vector<ChannelState> states(channels.size());
    for (ChannelState& s : states) {
        s.segment.assign(size, 0.0);
        s.power.assign(bins, 0.0);
    }
    std::vector<double> values(half * n);

    // Reads the next half segment into the second half of every channel's segment.
    int64_t next = shape.first;
    const auto readHalf = [&]() {
        if (!reader.ReadValues(next, static_cast<int64_t>(half), values)) {
            error = reader.Error();
            return false;
        }
        for (std::size_t j = 0; j < channels.size(); ++j) {
            ChannelState& s = states[j];
            const std::size_t c = channels[j];
            if (next == shape.first) s.shift = values[c];
            double* target = s.segment.data() + half;
            for (std::size_t i = 0; i < half; ++i) {
                const double v = values[i * n + c];
                if (!std::isfinite(v)) {
                    error = NotFinite(info, next + static_cast<int64_t>(i), c, v);
                    return false;
                }
                target[i] = v;
                const double d = v - s.shift;
                s.sum += d;
                s.sumSquares += d * d;
            }
        }
        next += static_cast<int64_t>(half);
        return true;
    };

    if (!readHalf()) return false;
    for (ChannelState& s : states) {
        std::copy(s.segment.begin() + static_cast<std::ptrdiff_t>(half), s.segment.end(),
                  s.segment.begin());
    }
    for (std::size_t segment = 0; segment < shape.segments; ++segment) {
        if (!readHalf()) return false;
        for (ChannelState& s : states) {
            double mean = 0;
            for (const double v : s.segment) mean += v;
            mean /= static_cast<double>(size);
            for (std::size_t i = 0; i < size; ++i) in.get()[i] = (s.segment[i] - mean) * window[i];
            fftw_execute_dft_r2c(plan, in.get(), psd.get());
            for (std::size_t k = 0; k < bins; ++k) {
                const double re = psd.get()[k][0];
                const double im = psd.get()[k][1];
                s.power[k] += re * re + im * im;
            }
            std::copy(s.segment.begin() + static_cast<std::ptrdiff_t>(half), s.segment.end(),
                      s.segment.begin());
        }
        if (progress &&
            !progress(static_cast<int64_t>(segment + 1), static_cast<int64_t>(shape.segments))) {
            error = info.fileName + ": cancelled";
            return false;
        }
    }

    out = {};
    out.shape = shape;
    out.rateHz = 1.0 / info.period;
    out.binHz = out.rateHz / static_cast<double>(size);
    if (shape.limited) out.note = PowerDensityLimitNote(shape, last - first, info.period);
    // Density: |X|² / (rate × Σw²), averaged over the segments; every bin but
    // 0 and the Nyquist bin stands for its negative frequency too.
    const double scale = 1.0 / (out.rateHz * windowPower * static_cast<double>(shape.segments));
    const auto used = static_cast<double>(shape.last - shape.first);
    out.channels.reserve(channels.size());
    for (std::size_t j = 0; j < channels.size(); ++j) {
        ChannelState& s = states[j];
        ChannelPowerDensity cs;
        cs.channel = channels[j];
        cs.density = std::move(s.power);
        for (std::size_t k = 0; k < bins; ++k) {
            cs.density[k] *= (k == 0 || k == half) ? scale : 2 * scale;
        }
        const double mean = s.sum / used;
        cs.variance = std::max(0.0, s.sumSquares / used - mean * mean);
        out.channels.push_back(std::move(cs));
    }
    return true;
}

}  // namespace tamix
