#include "recording/EdfExport.h"

#include <edflib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

#include "base/ChannelLabel.h"
#include "recording/EdfPhysicalRange.h"
#include "recording/EdfRecordShape.h"
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

// EDFlib keeps the first 40 bytes of an annotation's text and cuts wherever
// they end, even inside a character, after which readers refuse the file.
constexpr std::size_t kAnnotationBytes = 40;
// The format's own text for the end of a recording: it marks where the scans
// that fill up the last data record begin (EDFlib's reader stops there).
constexpr const char* kPaddingAnnotation = "Recording ends";

std::string Text(double v, int significant) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, significant);
    return {buf, r.ptr};
}

std::string Fixed(double v, int decimals) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return {buf, r.ptr};
}

double Number(const std::string& text) {
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// EDFlib prints a physical value and keeps its first 8 characters: a value a
// little beyond the text's last digit, away from zero, is cut back to the text.
double ValueEdflibWritesAs(const std::string& text) {
    int decimals = 0;
    const double value = Number(text);
    EdfNumberText(value, &decimals);
    const double nudge = 0.3 * std::pow(10.0, -decimals);
    return value > 0 ? value + nudge : value < 0 ? value - nudge : value;
}

std::string Unfaithful(const std::string& path, const std::string& label,
                       const std::string& reason) {
    return path + ": EDF cannot hold " + label + " faithfully: " + reason;
}

// At most `maxBytes` bytes of UTF-8, cut before a character that does not fit.
std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

std::string Field(const std::string& header, std::size_t at, std::size_t size) {
    if (at + size > header.size()) return {};
    std::string f = header.substr(at, size);
    while (!f.empty() && f.back() == ' ') f.pop_back();
    return f;
}

// Reads back the fields whose text EDFlib formats itself: a library that
// prints them otherwise must not leave a header that misstates the values.
bool HeaderAsMeant(const std::string& path, const std::vector<EdfPhysicalRange>& ranges,
                   const EdfRecordShape& shape, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::string header(256, '\0');
    in.read(header.data(), 256);
    const std::size_t ns = std::strtoul(Field(header, 252, 4).c_str(), nullptr, 10);
    if (!in || ns < ranges.size()) {
        error = path + ": the EDF header cannot be read back";
        return false;
    }
    header.resize(256 * (ns + 1));
    in.read(header.data() + 256, static_cast<std::streamsize>(256 * ns));
    const std::string durationText = Field(header, 244, 8);
    const double duration = Number(durationText);
    if (!in || std::abs(duration * kEdfDurationUnitsPerSecond - shape.durationUnits) > 1e-6) {
        error = path + ": the EDF library wrote the record duration as \"" + durationText + "\"";
        return false;
    }
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        const EdfPhysicalRange& r = ranges[k];
        const std::string written[] = {Field(header, 256 + ns * 104 + 8 * k, 8),
                                       Field(header, 256 + ns * 112 + 8 * k, 8),
                                       Field(header, 256 + ns * 96 + 8 * k, 8)};
        const std::string* meant[] = {&r.minimum, &r.maximum, &r.dimension};
        for (std::size_t f = 0; f < 3; ++f) {
            // The library may add zeros after the point: the numbers must read the same.
            if (f < 2 ? Number(written[f]) != Number(*meant[f]) || written[f].empty()
                      : written[f] != *meant[f]) {
                error = path + ": the EDF library wrote \"" + written[f] + "\" for \"" + *meant[f] +
                        "\" in signal " + std::to_string(k + 1);
                return false;
            }
        }
    }
    return true;
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
    const int64_t total = selection.endScan - selection.firstScan;
    if (m == 0 || !(info.period > 0) || total <= 0) {
        error = path + ": " +
                (m == 0               ? "no channels chosen"
                 : !(info.period > 0) ? "the sample period is unknown"
                                      : "there are no scans to export");
        return false;
    }
    ExportSamples source(reader, selection);
    if (!source.Prepare(error)) return false;
    const std::vector<ChannelInfo>& channels = source.Channels();
    const auto mu = static_cast<std::size_t>(m);

    // Everything that could make the header misstate the recording is
    // settled before the file exists.
    std::vector<std::string> notes;
    std::vector<std::string> labels(mu);
    std::vector<EdfPhysicalRange> ranges(mu);
    for (std::size_t k = 0; k < mu; ++k) {
        const ChannelInfo& ch = channels[k];
        // The field holds 16 characters: the name is cut, the input stays.
        labels[k] = ChannelLabel(EdfAscii(ch.Name(), kWholeLabel), ch.inputNumber,
                                 static_cast<std::size_t>(selection.channels[k]), kEdfLabelChars);
        const std::string unit = EdfAscii(ch.Unit(), 8);
        std::string reason;
        if (!ChooseEdfPhysicalRange(ch, unit, ranges[k], reason)) {
            error = Unfaithful(path, labels[k], reason);
            return false;
        }
        if (ranges[k].exponent != 0) {
            notes.push_back(labels[k] + " is written in " + ranges[k].dimension + " instead of " +
                            (unit.empty() ? std::string("plain numbers") : unit) +
                            ", whose numbers do not fit EDF's 8-character fields");
        }
    }
    int64_t markerCount = 0;
    for (const RecordingMarker& mk : info.markers) {
        markerCount += MarkerExported(selection, mk.scan);
    }
    EdfRecordShape shape;
    if (!ChooseEdfRecordShape(info.period, total, m, markerCount + 1, shape)) {
        error = path + ": EDF's data records cannot state the rate of " +
                Text(1.0 / info.period, 10) + " Hz to within a millionth";
        return false;
    }
    if (shape.rateError != 0) {
        notes.push_back("the rate is stored as " + Fixed(shape.StoredRate(), 6) + " Hz, " +
                        Text(std::abs(shape.rateError) * 1e6, 2) +
                        (shape.rateError > 0 ? " ppm above" : " ppm below") + " the recorded " +
                        Fixed(1.0 / info.period, 6) +
                        " Hz: " + Text(std::abs(shape.rateError) * 3600e3, 2) +
                        " ms of drift per hour against the recording's clock");
    }

    const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, m);
    if (handle < 0) {
        error = path + ": " + EdfReason(handle);
        return false;
    }
    bool ok = shape.durationUnits == kEdfDurationUnitsPerSecond ||
              edf_set_datarecord_duration(handle, shape.durationUnits) == 0;
    for (int k = 0; k < m && ok; ++k) {
        const EdfPhysicalRange& r = ranges[static_cast<std::size_t>(k)];
        ok = edf_set_samplefrequency(handle, k, shape.samplesPerRecord) == 0 &&
             edf_set_digital_maximum(handle, k, 32767) == 0 &&
             edf_set_digital_minimum(handle, k, -32768) == 0 &&
             edf_set_physical_maximum(handle, k, ValueEdflibWritesAs(r.maximum)) == 0 &&
             edf_set_physical_minimum(handle, k, ValueEdflibWritesAs(r.minimum)) == 0 &&
             edf_set_label(handle, k, labels[static_cast<std::size_t>(k)].c_str()) == 0 &&
             edf_set_physical_dimension(handle, k, r.dimension.c_str()) == 0;
    }
    if (ok && shape.annotationSignals > 1) {
        ok = edf_set_number_of_annotation_signals(handle, shape.annotationSignals) == 0;
    }
    if (ok && info.startTime > 0) {
        // The export starts at its first scan, which may lie within a second.
        const double offset = static_cast<double>(selection.firstScan) * info.period;
        auto seconds = static_cast<std::time_t>(info.startTime + static_cast<int64_t>(offset));
        int64_t tenthMs = std::llround((offset - std::floor(offset)) * 1e4);
        if (tenthMs == 10000) {
            ++seconds;
            tenthMs = 0;
        }
        std::tm tm{};
        gmtime_r(&seconds, &tm);
        if (tm.tm_year + 1900 >= 1985 && tm.tm_year + 1900 <= 2084) {
            ok = edf_set_startdatetime(handle, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                                       tm.tm_hour, tm.tm_min, tm.tm_sec) == 0 &&
                 edf_set_subsecond_starttime(handle, static_cast<int>(tenthMs * 1000)) == 0;
        }
    }
    if (!ok) {
        edfclose_file(handle);
        error = path + ": the EDF library refused the channel settings";
        return false;
    }

    std::vector<int16_t> samples;
    const auto spr = static_cast<std::size_t>(shape.samplesPerRecord);
    std::vector<short> signal(spr);
    for (int64_t r = 0; r < shape.records && ok; ++r) {
        const int64_t first = selection.firstScan + r * shape.samplesPerRecord;
        const int64_t count = std::min<int64_t>(shape.samplesPerRecord, selection.endScan - first);
        if (!source.Samples(first, count, samples, error)) {
            edfclose_file(handle);
            return false;
        }
        for (std::size_t k = 0; k < mu && ok; ++k) {
            for (std::size_t i = 0; i < spr; ++i) {
                // EDF holds whole records: the last one repeats its last scan,
                // and an annotation says where the recording ends.
                const std::size_t s = std::min<std::size_t>(i, static_cast<std::size_t>(count) - 1);
                signal[i] = ranges[k].constant ? short{-32768} : samples[s * mu + k];
            }
            ok = edfwrite_digital_short_samples(handle, signal.data()) == 0;
        }
        if (progress &&
            !progress(std::min<int64_t>((r + 1) * shape.samplesPerRecord, total), total)) {
            edfclose_file(handle);
            error = path + ": cancelled";
            return false;
        }
    }
    // Onsets in units of 100 µs of the file's own time base, so that each
    // lies on its scan's sample.
    const auto onset = [&](int64_t scan) {
        return static_cast<long long>(std::llround(shape.FileTime(scan) * 1e4));
    };
    int cut = 0;
    for (const RecordingMarker& mk : info.markers) {
        if (!ok || !MarkerExported(selection, mk.scan)) continue;
        const std::string text = CutUtf8(mk.comment, kAnnotationBytes);
        cut += text.size() < mk.comment.size();
        ok = edfwrite_annotation_utf8(handle, onset(mk.scan - selection.firstScan), -1,
                                      text.c_str()) == 0;
    }
    if (ok && shape.paddedScans > 0) {
        ok = edfwrite_annotation_utf8(handle, onset(total), -1, kPaddingAnnotation) == 0;
    }
    if (edfclose_file(handle) != 0 || !ok) {
        error = path + ": writing the EDF file failed";
        return false;
    }
    if (!HeaderAsMeant(path, ranges, shape, error)) return false;
    if (shape.paddedScans > 0) {
        notes.push_back("the last data record ends " + Text(shape.FileTime(shape.paddedScans), 6) +
                        " s after the recording (" + std::to_string(shape.paddedScans) +
                        " repeats of its last scan after the annotation \"" + kPaddingAnnotation +
                        "\")");
    }
    if (cut > 0) {
        notes.push_back(std::to_string(cut) +
                        (cut == 1 ? " marker comment is" : " marker comments are") + " cut to " +
                        std::to_string(kAnnotationBytes) +
                        " bytes, the EDF library's limit for an annotation");
    }
    note.clear();
    for (const std::string& n : notes) note += (note.empty() ? "" : "; ") + n;
    return true;
}

}  // namespace tamix
