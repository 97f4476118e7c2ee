// The data records of an EDF+ export: samples per record and the record's
// duration, chosen so that the file states the recording's rate to within a
// millionth, is no larger than it must be, and pads as little of the end as it can.
#pragma once

#include <cstdint>

namespace tamix {

// EDFlib takes a record's duration in units of 10 µs, from 1 ms to 60 s.
inline constexpr int64_t kEdfDurationUnitsPerSecond = 100000;
// The largest difference between the stored and the recorded rate, relative.
inline constexpr double kEdfMaxRateError = 1e-6;
// Bytes of one annotation signal in each record (EDFlib's fixed size): the
// record's time and one annotation.
inline constexpr int64_t kEdfAnnotationSignalBytes = 114;
inline constexpr int kEdfMaxAnnotationSignals = 64;

struct EdfRecordShape {
    int samplesPerRecord = 0;
    int durationUnits = 0;  // units of 10 µs
    int64_t records = 0;
    int annotationSignals = 1;
    // Scans of the last record after the recording's end.
    int64_t paddedScans = 0;
    // (stored rate - recorded rate) / recorded rate.
    double rateError = 0;
    int64_t fileDataBytes = 0;  // everything after the header

    double StoredRate() const {
        return samplesPerRecord * static_cast<double>(kEdfDurationUnitsPerSecond) / durationUnits;
    }
    // Seconds in the file's own time base of scan `scan` of the export.
    double FileTime(int64_t scan) const {
        return static_cast<double>(scan) * durationUnits /
               (static_cast<double>(kEdfDurationUnitsPerSecond) * samplesPerRecord);
    }
};

// For `scans` scans (at least one) of `channels` 16-bit channels taken every
// `period` seconds, with `annotations` annotations (each record holds one per
// annotation signal). Of the records of at most 61440 bytes (the format's
// recommendation) whose rate is within kEdfMaxRateError, those of at most a
// second are preferred; of these, among the files at most a tenth larger than
// the smallest, the one that pads the fewest scans after the recording's end,
// then the smallest, the most exact rate, the longest record. False when no
// record of EDFlib's durations states the rate that well, or the annotations
// do not fit.
bool ChooseEdfRecordShape(double period, int64_t scans, int channels, int64_t annotations,
                          EdfRecordShape& shape);

}  // namespace tamix
