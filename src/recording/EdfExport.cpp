#include "recording/EdfExport.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "base/ChannelLabel.h"
#include "recording/EngineeringValue.h"
#include "recording/ExportSamples.h"

namespace tamix {
namespace {

constexpr std::size_t kEdfLabelChars = 16;

std::string EdfReason(int code) {
    switch (code) {
        case EDFLIB_MALLOC_ERROR:
            return "out of memory";
        case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
            return "cannot create the file";
        case EDFLIB_MAXFILES_REACHED:
            return "too many open EDF files";
        case EDFLIB_NUMBER_OF_SIGNALS_INVALID:
            return "too many channels for EDF";
        default:
            return "EDF library error " + std::to_string(code);
    }
}

// Samples per data record and the record length in 10 µs units: one second
// when the rate is a whole number, else the shortest record holding a whole
// number of scans at the format's time resolution.
bool RecordShape(double period, int& samplesPerRecord, int& duration) {
    const double rate = 1.0 / period;
    if (std::abs(rate - std::round(rate)) < 1e-6 * rate && std::round(rate) >= 1) {
        samplesPerRecord = static_cast<int>(std::round(rate));
        duration = 100000;
        return true;
    }
    for (int spr = 1; spr <= 10000; ++spr) {
        const double units = spr * period * 1e5;
        if (std::abs(units - std::round(units)) < 1e-6 && units >= 100 && units <= 6000000) {
            samplesPerRecord = spr;
            duration = static_cast<int>(std::round(units));
            return true;
        }
    }
    samplesPerRecord = 1;
    duration = std::max(1, static_cast<int>(std::round(period * 1e5)));
    return false;
}

}  // namespace

std::string EdfAscii(std::string_view utf8, std::size_t maxChars) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '_');
            ++i;
            continue;
        }
        std::size_t len = (c & 0xE0) == 0xC0   ? 2
                          : (c & 0xF0) == 0xE0 ? 3
                          : (c & 0xF8) == 0xF0 ? 4
                                               : 1;
        len = std::min(len, utf8.size() - i);
        const std::string_view ch = utf8.substr(i, len);
        if (ch == "\xC2\xB5" || ch == "\xCE\xBC") {
            out += "u";
        } else if (ch == "\xC2\xB0") {
            out += "deg";
        } else if (ch == "\xC3\xA9" || ch == "\xC3\xA8" || ch == "\xC3\xAA") {
            out += "e";
        } else if (ch == "\xC3\xA4") {
            out += "ae";
        } else if (ch == "\xC3\xB6") {
            out += "oe";
        } else if (ch == "\xC3\xBC") {
            out += "ue";
        } else if (ch == "\xC2\xB2") {
            out += "2";
        } else {
            out += "_";
        }
        i += len;
    }
    while (!out.empty() && out.front() == ' ') out.erase(out.begin());
    if (out.size() > maxChars) out.resize(maxChars);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

bool ExportEdf(RecordingReader& reader, const ExportSelection& selection, const std::string& path,
               const ProgressCallback& progress, std::string& note, std::string& error) {
    const RecordingInfo& info = reader.Info();
    const auto m = static_cast<int>(selection.channels.size());
    if (m == 0 || info.period <= 0) {
        error = path + ": " + (m == 0 ? "no channels chosen" : "the sample period is unknown");
        return false;
    }
    ExportSamples source(reader, selection);
    if (!source.Prepare(error)) return false;
    const std::vector<ChannelInfo>& channels = source.Channels();

    int spr = 0;
    int duration = 0;
    if (!RecordShape(info.period, spr, duration)) {
        note = "the rate is stored as " + std::to_string(1e5 / duration) + " Hz; ";
    }
    const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, m);
    if (handle < 0) {
        error = path + ": " + EdfReason(handle);
        return false;
    }
    bool ok = duration == 100000 || edf_set_datarecord_duration(handle, duration) == 0;
    for (int k = 0; k < m && ok; ++k) {
        const ChannelInfo& ch = channels[static_cast<std::size_t>(k)];
        double lo = EngineeringValue(-32768, ch);
        double hi = EngineeringValue(32767, ch);
        if (lo == hi) hi = lo + 1;
        // The field holds 16 characters: the name is cut, the input stays.
        const std::string label =
            ChannelLabel(EdfAscii(ch.Name(), kWholeLabel), ch.inputNumber,
                         static_cast<std::size_t>(selection.channels[static_cast<std::size_t>(k)]),
                         kEdfLabelChars);
        ok = edf_set_samplefrequency(handle, k, spr) == 0 &&
             edf_set_digital_maximum(handle, k, 32767) == 0 &&
             edf_set_digital_minimum(handle, k, -32768) == 0 &&
             edf_set_physical_maximum(handle, k, hi) == 0 &&
             edf_set_physical_minimum(handle, k, lo) == 0 &&
             edf_set_label(handle, k, label.c_str()) == 0 &&
             edf_set_physical_dimension(handle, k, EdfAscii(ch.Unit(), 8).c_str()) == 0;
    }
    const int64_t total = selection.endScan - selection.firstScan;
    const int64_t records = (total + spr - 1) / spr;
    int markerCount = 0;
    for (const RecordingMarker& mk : info.markers) {
        markerCount += mk.scan >= selection.firstScan && mk.scan < selection.endScan;
    }
    // Each record has room for one annotation per annotation signal.
    if (ok && records > 0 && markerCount > records) {
        ok = edf_set_number_of_annotation_signals(
                 handle, static_cast<int>(std::min<int64_t>(64, markerCount / records + 1))) == 0;
    }
    if (ok && info.startTime > 0) {
        const auto t = static_cast<std::time_t>(info.startTime);
        std::tm tm{};
        gmtime_r(&t, &tm);
        if (tm.tm_year + 1900 >= 1985 && tm.tm_year + 1900 <= 2084) {
            ok = edf_set_startdatetime(handle, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                                       tm.tm_hour, tm.tm_min, tm.tm_sec) == 0;
        }
    }
    if (!ok) {
        edfclose_file(handle);
        error = path + ": the EDF library refused the channel settings";
        return false;
    }

    std::vector<int16_t> samples;
    std::vector<short> signal(static_cast<std::size_t>(spr));
    const auto mu = static_cast<std::size_t>(m);
    for (int64_t r = 0; r < records && ok; ++r) {
        const int64_t first = selection.firstScan + r * spr;
        const int64_t count = std::min<int64_t>(spr, selection.endScan - first);
        if (!source.Samples(first, count, samples, error)) {
            edfclose_file(handle);
            return false;
        }
        for (std::size_t k = 0; k < mu && ok; ++k) {
            for (std::size_t i = 0; i < static_cast<std::size_t>(spr); ++i) {
                // EDF holds whole records: the last one repeats its last scan.
                const std::size_t s = std::min<std::size_t>(i, static_cast<std::size_t>(count) - 1);
                signal[i] = samples[s * mu + k];
            }
            ok = edfwrite_digital_short_samples(handle, signal.data()) == 0;
        }
        if (progress && !progress(std::min<int64_t>((r + 1) * spr, total), total)) {
            edfclose_file(handle);
            error = path + ": cancelled";
            return false;
        }
    }
    for (const RecordingMarker& mk : info.markers) {
        if (!ok || mk.scan < selection.firstScan || mk.scan >= selection.endScan) continue;
        const auto onset =
            std::llround(static_cast<double>(mk.scan - selection.firstScan) * info.period * 1e4);
        ok = edfwrite_annotation_utf8(handle, onset, -1, mk.comment.c_str()) == 0;
    }
    if (edfclose_file(handle) != 0 || !ok) {
        error = path + ": writing the EDF file failed";
        return false;
    }
    if (const int64_t padded = records * spr - total; padded > 0) {
        note += "the last data record repeats the last scan " + std::to_string(padded) + " times";
    }
    return true;
}

}  // namespace tamix
