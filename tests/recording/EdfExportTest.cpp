// EDF+ exports read back by EDFlib's own reader, the one EDF viewers of the
// same author use: rates, values, annotations, ends and sizes.
#include <edflib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "base/Utf8Text.h"
#include "device/DeviceProfile.h"
#include "recording/EdfExport.h"

namespace tamix {
namespace {

// A recording in memory, as a WinDaq reader would give it.
class MemoryRecording : public RecordingReader {
  public:
    MemoryRecording(double period, int64_t scans, std::vector<ChannelInfo> channels) {
        info_.fileName = "memory.wdq";
        info_.period = period;
        info_.scanCount = scans;
        info_.channels = std::move(channels);
        info_.startTime = 1'700'000'000;
        const std::size_t n = info_.channels.size();
        samples_.resize(static_cast<std::size_t>(scans) * n);
        // Both ends of the sample range, then a sweep through it.
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            const std::size_t s = i / n;
            samples_[i] = s == 0   ? int16_t{-32768}
                          : s == 1 ? int16_t{32767}
                                   : static_cast<int16_t>((i * 40503 + 7) % 65536 - 32768);
        }
    }
    void AddMarker(int64_t scan, std::string comment) {
        info_.markers.push_back({scan, std::nullopt, std::move(comment)});
    }
    int16_t Sample(int64_t scan, std::size_t channel) const {
        return samples_[static_cast<std::size_t>(scan) * info_.channels.size() + channel];
    }
    RecordingInfo& MutableInfo() { return info_; }

    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override {
        if (first < 0 || count < 0 || first + count > info_.scanCount) return false;
        const std::size_t n = info_.channels.size();
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(first * n),
                    static_cast<std::size_t>(count) * n, out.begin());
        return true;
    }
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override {
        std::vector<int16_t> s(static_cast<std::size_t>(count) * info_.channels.size());
        if (!ReadSamples(first, count, s)) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const ChannelInfo& ch = info_.channels[i % info_.channels.size()];
            out[i] = s[i] / 3276.8 * ch.valueAt1V + ch.valueAt0V;
        }
        return true;
    }
    std::string Error() const override { return "memory.wdq: out of range"; }

  private:
    RecordingInfo info_;
    std::vector<int16_t> samples_;
};

ChannelInfo Channel(const char* name, const char* unit, double v1, double v0) {
    ChannelInfo ch;
    ch.inputNumber = kUnknownInput;
    CopyText(ch.name, name, kNameChars);
    CopyText(ch.unit, unit, kUnitChars);
    ch.valueAt1V = v1;
    ch.valueAt0V = v0;
    return ch;
}

ExportSelection All(const RecordingReader& r) {
    ExportSelection s;
    std::string error;
    EXPECT_TRUE(SelectExport(r.Info(), {}, {}, "", s, error)) << error;
    return s;
}

// One EDF file opened by EDFlib for reading, closed at the end of the scope.
struct EdfFile {
    explicit EdfFile(const std::string& path) {
        std::memset(&hdr, 0, sizeof hdr);
        open = edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) == 0;
    }
    ~EdfFile() {
        if (open) edfclose_file(hdr.handle);
    }
    EdfFile(const EdfFile&) = delete;
    EdfFile& operator=(const EdfFile&) = delete;

    double Rate(int signal = 0) const {
        return hdr.signalparam[signal].smp_in_datarecord * 1e7 /
               static_cast<double>(hdr.datarecord_duration);
    }
    std::vector<int> Digital(int signal) {
        std::vector<int> v(static_cast<std::size_t>(hdr.signalparam[signal].smp_in_file));
        edfrewind(hdr.handle, signal);
        EXPECT_EQ(edfread_digital_samples(hdr.handle, signal, static_cast<int>(v.size()), v.data()),
                  static_cast<int>(v.size()));
        return v;
    }
    std::vector<double> Physical(int signal) {
        std::vector<double> v(static_cast<std::size_t>(hdr.signalparam[signal].smp_in_file));
        edfrewind(hdr.handle, signal);
        EXPECT_EQ(
            edfread_physical_samples(hdr.handle, signal, static_cast<int>(v.size()), v.data()),
            static_cast<int>(v.size()));
        return v;
    }
    std::vector<edf_annotation_struct> Annotations() const {
        std::vector<edf_annotation_struct> a(static_cast<std::size_t>(hdr.annotations_in_file));
        for (std::size_t i = 0; i < a.size(); ++i) {
            edf_get_annotation(hdr.handle, static_cast<int>(i), &a[i]);
        }
        return a;
    }

    edf_hdr_struct hdr;
    bool open = false;
};

class EdfExportTest : public ::testing::Test {
  protected:
    bool Export(MemoryRecording& r, const ExportSelection& sel, std::string& note,
                std::string& error) {
        return ExportEdf(r, sel, path, {}, note, error);
    }
    test::TempDir dir;
    std::string path = dir.File("out.edf");
};

// Each model's own period, with a scan count that fills whole records and one
// that cannot: the rate within a millionth, every sample as recorded, nothing
// invented without an annotation where the recording ends, the markers on
// their samples, and a file about the size of its samples.
TEST_F(EdfExportTest, EveryModelKeepsItsRateSamplesEndAndSize) {
    for (const KnownUnit& unit : KnownUnits()) {
        for (const int64_t scans : {int64_t{3001}, int64_t{5000}}) {
            const std::string what = std::string(unit.serial) + ", " + std::to_string(scans);
            MemoryRecording rec(unit.samplePeriod, scans,
                                {Channel("a", "V", 1, 0), Channel("b", "V", 2.5, -1)});
            for (const int64_t m : {int64_t{0}, scans / 3, scans - 1}) {
                rec.AddMarker(m, "at " + std::to_string(m));
            }
            std::string note;
            std::string error;
            ASSERT_TRUE(Export(rec, All(rec), note, error)) << what << ": " << error;
            EdfFile edf(path);
            ASSERT_TRUE(edf.open) << what << ": EDFlib error " << edf.hdr.filetype;
            ASSERT_EQ(edf.hdr.edfsignals, 2);
            const double rate = edf.Rate();
            EXPECT_LE(std::abs(rate * unit.samplePeriod - 1), 1e-6) << what << ": " << rate;
            const double drift = std::abs(rate * unit.samplePeriod - 1) * 3600e3;
            if (drift > 0) {
                char figure[32];
                std::snprintf(figure, sizeof figure, " %.2g ms of drift per hour", drift);
                EXPECT_NE(note.find(figure), std::string::npos) << what << ": " << note;
            } else {
                EXPECT_EQ(note.find("drift"), std::string::npos) << what << ": " << note;
            }

            const int spr = edf.hdr.signalparam[0].smp_in_datarecord;
            const auto stored = edf.hdr.signalparam[0].smp_in_file;
            EXPECT_GE(stored, scans) << what;
            EXPECT_LT(stored, scans + spr) << what;
            if (scans == 5000) {
                EXPECT_EQ(stored, scans) << what << ": whole records of " << spr;
            }
            for (int k = 0; k < 2; ++k) {
                const std::vector<int> d = edf.Digital(k);
                for (int64_t s = 0; s < stored; ++s) {
                    const int64_t from = std::min(s, scans - 1);
                    ASSERT_EQ(d[static_cast<std::size_t>(s)],
                              rec.Sample(from, static_cast<std::size_t>(k)))
                        << what << ": signal " << k << " sample " << s;
                }
            }

            // Onsets within half a sample of their scans in the file's time base.
            const auto annotations = edf.Annotations();
            const std::size_t markers = 3;
            ASSERT_EQ(annotations.size(), markers + (stored > scans ? 1 : 0)) << what;
            for (std::size_t i = 0; i < markers; ++i) {
                const double at = static_cast<double>(annotations[i].onset) * 1e-7 * rate;
                const int64_t scan = rec.Info().markers[i].scan;
                EXPECT_NEAR(at, static_cast<double>(scan), 0.5) << what << ": marker " << i;
                EXPECT_STREQ(annotations[i].annotation, ("at " + std::to_string(scan)).c_str());
            }
            if (stored > scans) {
                const auto& end = annotations.back();
                EXPECT_STREQ(end.annotation, "Recording ends") << what;
                EXPECT_NEAR(static_cast<double>(end.onset) * 1e-7 * rate,
                            static_cast<double>(scans), 0.5)
                    << what;
                EXPECT_NE(note.find("Recording ends"), std::string::npos) << what << ": " << note;
            }
            // The file's duration: the recording's, up to the padding of the last record.
            const double seconds = static_cast<double>(edf.hdr.file_duration) * 1e-7;
            EXPECT_NEAR(seconds, static_cast<double>(stored) / rate, 1e-6) << what;
            EXPECT_NEAR(static_cast<double>(scans) / rate,
                        static_cast<double>(scans) * unit.samplePeriod,
                        1e-6 * static_cast<double>(scans) * unit.samplePeriod)
                << what;

            // 256 header bytes per signal and the annotations' 114 bytes a record.
            const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
            EXPECT_LE(size, 256 * 4 + scans * 2 * 2 * 13 / 10) << what;
        }
    }
}

// Calibrations from a millionth to a million, with and without an offset:
// every value EDFlib reads is within half a digital step of the recording's,
// in the unit the header names.
TEST_F(EdfExportTest, ValuesStayWithinHalfAStepFromAMillionthToAMillion) {
    const struct {
        const char* unit;
        const char* base;
        int ownExponent;
    } units[] = {{"V", "V", 0}, {"\xC2\xB5V", "V", -6}, {"mmHg", "mmHg", 0}};
    const std::string prefixes = "pnum kMG";
    for (int decade = -6; decade <= 6; ++decade) {
        for (const double offset : {0.0, -3.0, 7.25}) {
            for (const auto& u : units) {
                const double v1 = std::pow(10.0, decade);
                const std::string what =
                    std::string(u.unit) + " " + std::to_string(v1) + " " + std::to_string(offset);
                MemoryRecording rec(0.002, 700, {Channel("x", u.unit, v1, offset * v1)});
                std::string note;
                std::string error;
                ASSERT_TRUE(Export(rec, All(rec), note, error)) << what << ": " << error;
                EdfFile edf(path);
                ASSERT_TRUE(edf.open) << what;
                const std::string dim = edf.hdr.signalparam[0].physdimension;
                const std::string trimmed = dim.substr(0, dim.find_last_not_of(' ') + 1);
                ASSERT_GE(trimmed.size(), std::strlen(u.base)) << what << ": " << dim;
                const std::string prefix = trimmed.substr(0, trimmed.size() - std::strlen(u.base));
                ASSERT_EQ(trimmed.substr(prefix.size()), u.base) << what << ": " << dim;
                ASSERT_LE(prefix.size(), 1u) << what << ": " << dim;
                const int exponent =
                    prefix.empty() ? 0 : (static_cast<int>(prefixes.find(prefix[0])) - 4) * 3;
                ASSERT_NE(prefixes.find(prefix.empty() ? ' ' : prefix[0]), std::string::npos);
                // Recorded values in the header's unit.
                const double toHeader = std::pow(10.0, u.ownExponent - exponent);
                if (exponent != u.ownExponent) {
                    EXPECT_NE(note.find(trimmed), std::string::npos) << what << ": " << note;
                }
                const double step = v1 / 3276.8 * toHeader;
                const std::vector<double> got = edf.Physical(0);
                std::vector<double> want(700);
                ASSERT_TRUE(rec.ReadValues(0, 700, want));
                for (std::size_t s = 0; s < want.size(); ++s) {
                    ASSERT_LE(std::abs(got[s] - want[s] * toHeader), 0.5 * step)
                        << what << ": sample " << s << " reads " << got[s] << " " << dim;
                }
            }
        }
    }
}

TEST_F(EdfExportTest, ConstantChannelReadsItsValue) {
    MemoryRecording rec(0.001, 1200, {Channel("flat", "V", 0, 7.5)});
    std::string note;
    std::string error;
    ASSERT_TRUE(Export(rec, All(rec), note, error)) << error;
    EdfFile edf(path);
    ASSERT_TRUE(edf.open);
    for (const double v : edf.Physical(0)) ASSERT_NEAR(v, 7.5, 1e-6);
}

// A header that cannot state the values or the rate is refused before the
// file exists, with the file, the channel and the reason.
TEST_F(EdfExportTest, RefusesWhatTheHeaderCannotState) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double period;
        double v1;
        double v0;
        const char* says;
    } cases[] = {
        {0.002, 1e-3, 1e6, "#1: p"},
        // 1009.99969 V needs 9 characters; 1010 is a whole step off.
        {0.002, 1, 1000, "to within half a digital step"},
        {0.002, std::nan(""), 0, "not a finite number"},
        {0.002, 1, inf, "not a finite number"},
        {1e-9, 1, 0, "within a millionth"},
        {90.0, 1, 0, "within a millionth"},
    };
    for (const auto& c : cases) {
        MemoryRecording rec(c.period, 100, {Channel("p", "V", c.v1, c.v0)});
        std::string note;
        std::string error;
        EXPECT_FALSE(Export(rec, All(rec), note, error)) << c.says;
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(path)) << error;
    }
}

// An export from a later scan starts there: the annotations' onsets and the
// start time move with it, and markers outside the range stay out.
TEST_F(EdfExportTest, FromMovesAnnotationsAndStart) {
    MemoryRecording rec(0.002, 3001, {Channel("a", "V", 1, 0)});
    for (const int64_t m : {0, 600, 1500, 2999}) rec.AddMarker(m, "m" + std::to_string(m));
    ExportSelection sel;
    std::string error;
    ASSERT_TRUE(SelectExport(rec.Info(), 1.002, 5.002, "", sel, error)) << error;
    ASSERT_EQ(sel.firstScan, 501);
    ASSERT_EQ(sel.endScan, 2501);
    std::string note;
    ASSERT_TRUE(Export(rec, sel, note, error)) << error;
    EdfFile edf(path);
    ASSERT_TRUE(edf.open);
    const auto a = edf.Annotations();
    ASSERT_EQ(a.size(), 2u);
    EXPECT_STREQ(a[0].annotation, "m600");
    EXPECT_NEAR(static_cast<double>(a[0].onset) * 1e-7, 99 * 0.002, 0.001);
    EXPECT_STREQ(a[1].annotation, "m1500");
    EXPECT_NEAR(static_cast<double>(a[1].onset) * 1e-7, 999 * 0.002, 0.001);
    EXPECT_EQ(edf.hdr.signalparam[0].smp_in_file, 2000);
    EXPECT_EQ(edf.Digital(0)[0], rec.Sample(501, 0));
    // 1 700 000 001.002 s: 2023-11-14 22:13:21 UTC and 2 ms.
    EXPECT_EQ(edf.hdr.startdate_year, 2023);
    EXPECT_EQ(edf.hdr.startdate_month, 11);
    EXPECT_EQ(edf.hdr.startdate_day, 14);
    EXPECT_EQ(edf.hdr.starttime_hour, 22);
    EXPECT_EQ(edf.hdr.starttime_minute, 13);
    EXPECT_EQ(edf.hdr.starttime_second, 21);
    EXPECT_EQ(edf.hdr.starttime_subsecond, 20000);
}

// EDFlib keeps 40 bytes of an annotation and would cut a two-byte character in
// half, which readers refuse: comments are cut before it, and the note says so.
TEST_F(EdfExportTest, LongCommentsLoseWholeCharacters) {
    MemoryRecording rec(0.002, 1000, {Channel("a", "V", 1, 0)});
    const std::string head(39, 'x');
    rec.AddMarker(10, head + "\xC2\xB5\xC2\xB5 tail");
    rec.AddMarker(20, "short \xC2\xB5");
    std::string note;
    std::string error;
    ASSERT_TRUE(Export(rec, All(rec), note, error)) << error;
    EdfFile edf(path);
    ASSERT_TRUE(edf.open);
    const auto a = edf.Annotations();
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(std::string(a[0].annotation), head);
    EXPECT_EQ(std::string(a[1].annotation), "short \xC2\xB5");
    EXPECT_NE(note.find("1 marker comment is cut to 40 bytes"), std::string::npos) << note;
}

}  // namespace
}  // namespace tamix
