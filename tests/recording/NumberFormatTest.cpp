#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "recording/NumberFormat.h"

namespace tamix {
namespace {

std::string Fast(double v) {
    char buf[kMaxNumberChars];
    return {buf, FormatG4(v, buf)};
}
std::string Reference(double v) {
    char buf[kMaxNumberChars + 8];
    return {buf, FormatG4Snprintf(v, buf)};
}
std::string Time(double v) {
    char buf[kMaxNumberChars];
    return {buf, FormatFixed3(v, buf)};
}
std::string TimeReference(double v) {
    char buf[64];
    return {buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%.3lf", v))};
}

TEST(NumberFormatTest, ValuesUseFourDigitsAndAThreeDigitExponent) {
    struct Case {
        double v;
        const char* text;
    };
    for (const Case c :
         {Case{5, "5"}, Case{-2.5, "-2.5"}, Case{32752 / 3276.8, "9.995"},
          Case{12340, "1.234e+004"}, Case{1e-5, "1e-005"}, Case{0.0001234, "0.0001234"},
          Case{-0.0, "-0"}, Case{0.0, "0"}, Case{9.9996, "10"}, Case{99995, "1e+005"},
          Case{1e100, "1e+100"}, Case{-1234.5678, "-1235"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Fast(c.v), c.text);
        EXPECT_EQ(Reference(c.v), c.text);
    }
}

TEST(NumberFormatTest, FastFormsMatchTheCLibraryOnRandomAndBoundaryValues) {
    std::vector<double> values = {9.9995,
                                  9.99950000001,
                                  1e-5,
                                  99995,
                                  9999.5,
                                  0.00099995,
                                  -0.0,
                                  32767 / 3276.8,
                                  -32768 / 3276.8,
                                  1.0005,
                                  1e-4,
                                  1e4,
                                  std::numeric_limits<double>::denorm_min(),
                                  1e300,
                                  -7e-300,
                                  std::numeric_limits<double>::infinity(),
                                  std::nan("")};
    std::mt19937_64 rng(20261209);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_real_distribution<double> slope(-1000.0, 1000.0);
    std::uniform_real_distribution<double> exponent(-12, 12);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(sample(rng) / 3276.8 * slope(rng) + slope(rng) / 7);
        values.push_back(std::pow(10.0, exponent(rng)) * (i % 2 ? 1 : -1));
        values.push_back(std::round(slope(rng) * 100) / 1000 + 0.00005);
    }
    for (const double v : values) {
        ASSERT_EQ(Fast(v), Reference(v)) << std::hexfloat << v;
    }
}

TEST(NumberFormatTest, TimesMatchTheCLibrary) {
    EXPECT_EQ(Time(1234 * 0.002), "2.468");
    EXPECT_EQ(Time(0.0), "0.000");
    EXPECT_EQ(Time(12.5), "12.500");
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int64_t> scan(0, 21'600'000'000LL);
    for (int i = 0; i < 200000; ++i) {
        const double t = static_cast<double>(scan(rng)) * (i % 2 ? 0.001 : 0.0020025003317479272);
        ASSERT_EQ(Time(t), TimeReference(t)) << t;
    }
    for (const double t : {0.0005, 0.0015, 2.0025, 1e12, 123456789.0125}) {
        EXPECT_EQ(Time(t), TimeReference(t)) << t;
    }
}

TEST(NumberFormatTest, ADecimalCommaLocaleChangesNothing) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    }
    EXPECT_EQ(Fast(-2.5), "-2.5");
    EXPECT_EQ(Fast(1.2344e-7), "1.234e-007");
    EXPECT_EQ(Fast(1.2345), "1.234") << "the near-tie path, too";
    EXPECT_EQ(Fast(1.00049999), "1");
    EXPECT_EQ(Time(2.468), "2.468");
    EXPECT_EQ(Time(0.0005), "0.001");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace tamix
