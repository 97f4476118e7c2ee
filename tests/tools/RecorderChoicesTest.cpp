// tamix-record's options reach the recording as given: each calibration as
// its value at 1 V and at 0 V, and the time in seconds, whatever unit it was
// written in. Read back by tamix-file, as a user reads a recording.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../support/RunProgram.h"
#include "../support/TempDir.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Records from an unpaced simulated KPR-T310 (a scan every 2 ms, delivered as
// fast as read, so that the run takes far less than its recorded time).
test::ProgramResult Record(const test::TempDir& dir, std::vector<std::string> options,
                           const std::string& out) {
    std::vector<std::string> args = {TAMIX_RECORD_PATH, "--simulate", "--unpaced",
                                     "--quiet",         "--profile",  dir.File("p.INI")};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(out);
    return test::RunProgram(args);
}

Json Info(const std::string& file) {
    const test::ProgramResult r = test::RunProgram({TAMIX_FILE_PATH, "info", file, "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return Json::parse(r.out, nullptr, false);
}

// The calibration read back from the file is the pair given, in its order:
// "--cal 1=100,5" is 100 at 1 V and 5 at 0 V.
TEST(RecorderChoicesTest, EachCalibrationIsStoredAsItsValuesAtOneAndZeroVolts) {
    struct Expected {
        double at1V;
        double at0V;
    };
    struct Case {
        std::vector<std::string> options;
        std::vector<Expected> channels;  // inputs 1 and A, in that order
    };
    const Case cases[] = {
        {{"--cal", "1=100,5"}, {{100, 5}, {1, 0}}},
        {{"--cal=1=100,5", "--cal", "A=-2.5,1000"}, {{100, 5}, {-2.5, 1000}}},
        {{"--cal", "A=0.001,-7", "--cal=1=5,100"}, {{5, 100}, {0.001, -7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        test::TempDir dir;
        const std::string out = dir.File("cal.wdq");
        std::vector<std::string> options = {"--inputs", "1,A", "--time", "0.05"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const test::ProgramResult r = Record(dir, options, out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Json info = Info(out);
        ASSERT_FALSE(info.is_discarded());
        ASSERT_EQ(info["channels"].size(), c.channels.size());
        for (std::size_t k = 0; k < c.channels.size(); ++k) {
            SCOPED_TRACE(k);
            const double at1V = info["channels"][k]["valueAt1V"].get<double>();
            const double at0V = info["channels"][k]["valueAt0V"].get<double>();
            // The file keeps the scale per count: allow for its rounding.
            EXPECT_NEAR(at1V, c.channels[k].at1V, 1e-9 * std::abs(c.channels[k].at1V));
            EXPECT_NEAR(at0V, c.channels[k].at0V, 1e-9 * std::abs(c.channels[k].at0V));
        }
    }
}

// A recording of T seconds ends in the cycle of eight scans after its T / 2 ms
// scans: more than T / 2 ms, at most eight more. A time taken for minutes (or
// hours) would record 60 (or 3600) times as many, a time in minutes taken for
// seconds 60 times fewer.
TEST(RecorderChoicesTest, TheTimeIsRecordedInSecondsWhateverItsUnit) {
    struct Case {
        std::vector<std::string> options;
        int64_t scans;  // T / 2 ms
    };
    const Case cases[] = {
        {{"--time", "0.5"}, 250},
        {{"--time", "0.512s"}, 256},
        {{"--time=0.0096min"}, 288},
        {{"--time", "0.00016h"}, 288},
        {{"--time", "0.5", "--format", "text"}, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[c.options.size() > 1 ? 1 : 0]);
        test::TempDir dir;
        const bool text = c.options.size() > 2;
        const std::string out = dir.File(text ? "t.dat" : "t.wdq");
        std::vector<std::string> options = {"--inputs", "1,2"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const test::ProgramResult r = Record(dir, options, out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Json info = Info(out);
        ASSERT_FALSE(info.is_discarded());
        const auto scans = info["scans"].get<int64_t>();
        EXPECT_GT(scans, c.scans);
        EXPECT_LE(scans, c.scans + 8);
    }
}

}  // namespace
}  // namespace tamix
