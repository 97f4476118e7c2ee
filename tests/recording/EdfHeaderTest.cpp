#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "base/Utf8Text.h"
#include "device/DeviceProfile.h"
#include "recording/EdfPhysicalRange.h"
#include "recording/EdfRecordShape.h"

namespace tamix {
namespace {

double Parse(const std::string& text) {
    double v = std::numeric_limits<double>::quiet_NaN();
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

ChannelInfo Channel(double v1, double v0) {
    ChannelInfo ch;
    ch.valueAt1V = v1;
    ch.valueAt0V = v0;
    return ch;
}

TEST(EdfNumberText, IsTheNearestTextOfEightCharacters) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {-10.0, "-10"},
        {32767 / 3276.8, "9.999695"},  // 9.99969482...: rounded, not cut
        {-10'000'000.0, ""},           // 9 characters
        {-9'999'999.4, "-9999999"},
        {99'999'999.4, "99999999"},
        {9'999'694.82421875, "9999695"},
        {32767 / 3276.8 * 1e-6, "0.00001"},
        {-0.0000001, "0"},
        {0.5, "0.5"},
        {-1234.56789, "-1234.57"},
        {nan, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EdfNumberText(c.value), c.text) << c.value;
    }
}

TEST(EdfPrefixedUnit, TakesTheUnitsOwnPrefixIntoAccount) {
    const struct {
        const char* unit;
        int exponent;
        const char* result;
    } cases[] = {
        {"uV", 3, "mV"},     {"uV", 6, "V"},       {"V", -6, "uV"},
        {"V", 3, "kV"},      {"kPa", -3, "Pa"},    {"ms", 3, "s"},
        {"mbar", 9, "Mbar"}, {"mmHg", 3, "kmmHg"},  // millimetres of mercury, not a prefix of "mHg"
        {"pH", -3, "mpH"},                          // not picohenry
        {"", 3, "k"},        {"V", 27, ""},        {"Yg", 3, ""},
        {"Volt", 0, "Volt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EdfPrefixedUnit(c.unit, c.exponent), c.result) << c.unit << " " << c.exponent;
    }
}

// The cases and the decades around them: the header's two numbers lie
// within a tenth of a digital step of the channel's true ends, worked out here
// from the calibration.
TEST(EdfPhysicalRange, FitsEveryDecadeFromAMillionthToAMillion) {
    for (int decade = -6; decade <= 6; ++decade) {
        for (const double offset : {0.0, -3.0, 7.25}) {
            for (const char* unit : {"V", "uV"}) {
                const double v1 = std::pow(10.0, decade);
                const ChannelInfo ch = Channel(v1, offset * v1);
                EdfPhysicalRange r;
                std::string reason;
                ASSERT_TRUE(ChooseEdfPhysicalRange(ch, unit, r, reason))
                    << v1 << " " << offset << ": " << reason;
                const double scale = std::pow(10.0, r.exponent);
                const double step = v1 / 3276.8;
                const double lo = -10.0 * v1 + offset * v1;
                const double hi = 32767 / 3276.8 * v1 + offset * v1;
                EXPECT_LE(r.minimum.size(), 8u);
                EXPECT_LE(r.maximum.size(), 8u);
                EXPECT_LE(std::abs(Parse(r.minimum) * scale - lo), 0.1 * step) << r.minimum;
                EXPECT_LE(std::abs(Parse(r.maximum) * scale - hi), 0.1 * step) << r.maximum;
                EXPECT_EQ(r.minimumValue, Parse(r.minimum));
                EXPECT_FALSE(r.constant);
                EXPECT_EQ(r.exponent % 3, 0);
                EXPECT_EQ(r.dimension, EdfPrefixedUnit(unit, r.exponent));
            }
        }
    }
    const struct {
        double v1;
        const char* unit;
        const char* minimum;
        const char* maximum;
        const char* dimension;
    } named[] = {
        {1.0, "V", "-10", "9.999695", "V"},           {1e6, "uV", "-10000", "9999.695", "mV"},
        {1e-6, "V", "-10", "9.999695", "uV"},         {1e-6, "uV", "-10", "9.999695", "pV"},
        {1e6, "mmHg", "-10000", "9999.695", "kmmHg"}, {1e5, "V", "-1000000", "999969.5", "V"},
    };
    for (const auto& n : named) {
        EdfPhysicalRange r;
        std::string reason;
        ASSERT_TRUE(ChooseEdfPhysicalRange(Channel(n.v1, 0), n.unit, r, reason)) << reason;
        EXPECT_EQ(r.minimum, n.minimum) << n.v1 << " " << n.unit;
        EXPECT_EQ(r.maximum, n.maximum) << n.v1 << " " << n.unit;
        EXPECT_EQ(r.dimension, n.dimension) << n.v1 << " " << n.unit;
    }
}

TEST(EdfPhysicalRange, RefusesWhatNoHeaderHoldsAndKeepsAConstant) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const ChannelInfo& ch : {Channel(1e-3, 1e6), Channel(1, 1000), Channel(std::nan(""), 0),
                                  Channel(1, inf), Channel(1e300, 0)}) {
        EdfPhysicalRange r;
        std::string reason;
        EXPECT_FALSE(ChooseEdfPhysicalRange(ch, "V", r, reason)) << ch.valueAt1V;
        EXPECT_FALSE(reason.empty());
    }
    EdfPhysicalRange r;
    std::string reason;
    ASSERT_TRUE(ChooseEdfPhysicalRange(Channel(0, 7.5), "V", r, reason)) << reason;
    EXPECT_TRUE(r.constant);
    EXPECT_EQ(r.minimumValue, 7.5) << "every sample is written as the digital minimum";
    EXPECT_NE(r.maximumValue, r.minimumValue);
}

double StoredRate(const EdfRecordShape& s) {
    return s.samplesPerRecord / (s.durationUnits * 1e-5);
}

// Every model's rate is stated within a millionth, in records of at most a
// second, with a file at most a tenth larger than its samples and the least
// padding the allowance leaves.
TEST(EdfRecordShape, StatesEveryModelsRate) {
    for (const KnownUnit& unit : KnownUnits()) {
        for (const int64_t scans : {1, 7, 3001, 5000, 36000}) {
            for (const int channels : {1, 8}) {
                EdfRecordShape s;
                ASSERT_TRUE(ChooseEdfRecordShape(unit.samplePeriod, scans, channels, 3, s))
                    << unit.serial << " " << scans;
                const std::string what =
                    std::string(unit.serial) + " " + std::to_string(scans) + " scans";
                EXPECT_LE(std::abs(StoredRate(s) * unit.samplePeriod - 1), 1e-6) << what;
                EXPECT_NEAR(s.rateError, StoredRate(s) * unit.samplePeriod - 1, 1e-12) << what;
                EXPECT_LE(s.durationUnits, 100000) << what;
                EXPECT_EQ(s.records * s.samplesPerRecord - scans, s.paddedScans) << what;
                EXPECT_LT(s.paddedScans, s.samplesPerRecord) << what;
                const int64_t samples = 2 * channels * scans;
                EXPECT_EQ(s.fileDataBytes, s.records * (2 * channels * s.samplesPerRecord +
                                                        114 * s.annotationSignals))
                    << what;
                if (scans >= 3001) {
                    // 114 bytes of annotations per record.
                    EXPECT_LE(s.fileDataBytes, samples * 13 / 10) << what;
                }
            }
        }
    }
    EdfRecordShape s;
    ASSERT_TRUE(ChooseEdfRecordShape(0.002, 5000, 3, 1, s));
    EXPECT_EQ(s.paddedScans, 0) << "5000 scans fill whole records: " << s.samplesPerRecord;
    EXPECT_EQ(s.rateError, 0);
}

TEST(EdfRecordShape, GivesEveryAnnotationRoomOrRefuses) {
    EdfRecordShape s;
    ASSERT_TRUE(ChooseEdfRecordShape(0.002, 10, 1, 201, s));
    EXPECT_GE(s.records * s.annotationSignals, 201);
    EXPECT_LE(s.annotationSignals, 64);
    EXPECT_FALSE(ChooseEdfRecordShape(0.5, 1, 1, 65, s)) << "one record holds 64 at most";
    EXPECT_FALSE(ChooseEdfRecordShape(1e-9, 1000, 1, 1, s)) << "1 ms records of 30720 samples";
    EXPECT_FALSE(ChooseEdfRecordShape(61.0, 10, 1, 1, s)) << "records last 60 s at most";
    EXPECT_FALSE(ChooseEdfRecordShape(0.0, 10, 1, 1, s));
    EXPECT_FALSE(ChooseEdfRecordShape(std::nan(""), 10, 1, 1, s));
    ASSERT_TRUE(ChooseEdfRecordShape(2.5, 10, 1, 1, s)) << "a record longer than a second";
    EXPECT_EQ(s.durationUnits % 250000, 0);
}

}  // namespace
}  // namespace tamix
