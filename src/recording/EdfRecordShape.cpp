#include "recording/EdfRecordShape.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tamix {
namespace {

constexpr int64_t kMinDurationUnits = 100;      // 1 ms
constexpr int64_t kMaxDurationUnits = 6000000;  // 60 s
constexpr int64_t kRecommendedRecordBytes = 61440;
constexpr int64_t kMaxRecords = 99999999;  // the header's 8-character field

// Among shapes whose files are at most this much larger than the smallest,
// the one padding the fewest scans.
constexpr double kPaddingAllowance = 1.1;

bool Better(const EdfRecordShape& a, const EdfRecordShape& b) {
    if (a.paddedScans != b.paddedScans) return a.paddedScans < b.paddedScans;
    if (a.fileDataBytes != b.fileDataBytes) return a.fileDataBytes < b.fileDataBytes;
    if (std::abs(a.rateError) != std::abs(b.rateError)) {
        return std::abs(a.rateError) < std::abs(b.rateError);
    }
    return a.durationUnits > b.durationUnits;
}

}  // namespace

bool ChooseEdfRecordShape(double period, int64_t scans, int channels, int64_t annotations,
                          EdfRecordShape& shape) {
    if (!(period > 0) || !std::isfinite(period) || scans < 1 || channels < 1) return false;
    const int maxSamples = static_cast<int>(
        std::max<int64_t>(1, kRecommendedRecordBytes / (2 * static_cast<int64_t>(channels))));
    std::vector<EdfRecordShape> tiers[2];
    for (int spr = 1; spr <= maxSamples; ++spr) {
        const double units = spr * period * static_cast<double>(kEdfDurationUnitsPerSecond);
        if (units > static_cast<double>(kMaxDurationUnits) + 0.5) break;
        const int64_t duration = std::llround(units);
        if (duration < kMinDurationUnits) continue;
        // The stored rate is spr / duration; the recorded one spr / units.
        const double error = units / static_cast<double>(duration) - 1.0;
        if (std::abs(error) > kEdfMaxRateError) continue;
        EdfRecordShape s;
        s.samplesPerRecord = spr;
        s.durationUnits = static_cast<int>(duration);
        s.records = (scans + spr - 1) / spr;
        if (s.records > kMaxRecords) continue;
        s.paddedScans = s.records * spr - scans;
        s.rateError = error;
        const int64_t signals = std::max<int64_t>(1, (annotations + s.records - 1) / s.records);
        if (signals > kEdfMaxAnnotationSignals) continue;
        s.annotationSignals = static_cast<int>(signals);
        s.fileDataBytes = s.records * (2 * static_cast<int64_t>(channels) * spr +
                                       kEdfAnnotationSignalBytes * s.annotationSignals);
        tiers[duration <= kEdfDurationUnitsPerSecond ? 0 : 1].push_back(s);
    }
    const std::vector<EdfRecordShape>& c = tiers[0].empty() ? tiers[1] : tiers[0];
    if (c.empty()) return false;
    int64_t smallest = c.front().fileDataBytes;
    for (const EdfRecordShape& s : c) smallest = std::min(smallest, s.fileDataBytes);
    const EdfRecordShape* best = nullptr;
    for (const EdfRecordShape& s : c) {
        if (static_cast<double>(s.fileDataBytes) >
            kPaddingAllowance * static_cast<double>(smallest)) {
            continue;
        }
        if (best == nullptr || Better(s, *best)) best = &s;
    }
    shape = *best;
    return true;
}

}  // namespace tamix
