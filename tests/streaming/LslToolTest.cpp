// tamix-lsl on the loopback interface: it finds a stream, prints its info,
// samples and clock offset, and says when nothing answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/RunProgram.h"
#include "LslLoopback.h"
#include "streaming/LslClock.h"
#include "streaming/LslInfoXml.h"
#include "streaming/LslOutlet.h"

namespace tamix {
namespace {

using test::ProgramResult;
using test::RunProgram;

class LslToolTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::KeepToLoopback(); }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(LslToolTest, PrintsTheInfoTheSamplesAndTheClockOffset) {
    const std::string name = test::UniqueName("tool");
    LslOutlet outlet;
    std::string error;
    ASSERT_TRUE(outlet.Open(test::AnalogueStream(name, 2, 100), test::LoopbackOptions(), error))
        << error;
    // Pushed on until the program is done: it subscribes after the info and probes.
    std::atomic<bool> stop{false};
    std::thread pusher([&] {
        for (int i = 0; !stop; ++i) {
            const float v[2] = {static_cast<float>(i), -0.5f};
            outlet.Push(v, 2, 1, LslClock(), true);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const ProgramResult r = RunProgram(
        {TAMIX_LSL_PATH, "--loopback", "--name", name, "--count=5", "--time-probes", "3"});
    stop = true;
    pusher.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("<name>" + name + "</name>"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<label>In2</label>"), std::string::npos);
    EXPECT_NE(r.out.find("<unit>kPa</unit>"), std::string::npos);
    EXPECT_NE(r.out.find("clock offset: "), std::string::npos);
    std::vector<std::string> samples;
    for (const std::string& line : Lines(r.out)) {
        if (line.find("\t-0.5") != std::string::npos) samples.push_back(line);
    }
    ASSERT_EQ(samples.size(), 5u) << r.out;
    // "stamp<TAB>value<TAB>value", consecutive scans.
    double stamp = 0;
    int first = -1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::istringstream in(samples[i]);
        int value = 0;
        float second = 0;
        ASSERT_TRUE(in >> stamp >> value >> second) << samples[i];
        if (first < 0) first = value;
        EXPECT_EQ(value, first + static_cast<int>(i));
        EXPECT_GT(stamp, 0);
    }
}

TEST_F(LslToolTest, PrintsMarkersWithTheirStampsForSomeSeconds) {
    LslStreamDescription d;
    d.name = test::UniqueName("tool-markers");
    d.type = kLslMarkerType;
    d.format = LslFormat::String;
    d.channelCount = 1;
    LslOutlet outlet;
    std::string error;
    ASSERT_TRUE(outlet.Open(d, test::LoopbackOptions(), error)) << error;
    std::atomic<bool> stop{false};
    std::thread pusher([&] {
        for (int i = 0; !stop; ++i) {
            outlet.PushMarker("mark " + std::to_string(i), 1000 + i);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const ProgramResult r =
        RunProgram({TAMIX_LSL_PATH, "--loopback", "--name", d.name, "--seconds", "1"});
    stop = true;
    pusher.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int markers = 0;
    for (const std::string& line : Lines(r.out)) {
        const std::size_t tab = line.find("\tmark ");
        if (tab == std::string::npos) continue;
        // The stamp pushed with marker i is 1000 + i.
        const int i = std::stoi(line.substr(tab + 6));
        EXPECT_EQ(line.substr(0, tab), std::to_string(1000 + i) + ".000000");
        ++markers;
    }
    EXPECT_GE(markers, 5) << r.out;
}

TEST_F(LslToolTest, SaysWhenNoStreamAnswersOrAnArgumentIsWrong) {
    const std::string name = test::UniqueName("nobody");
    const ProgramResult none =
        RunProgram({TAMIX_LSL_PATH, "--loopback", "--name", name, "--wait", "0.5"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, "tamix-lsl: no stream answered the query for name='" + name +
                            "' within 0.5 s on this host\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--count", "0"}, "tamix-lsl: --count: \"0\" is not a whole number above 0\n"},
        {{"--seconds", "x"}, "tamix-lsl: --seconds: \"x\" is not a number of seconds above 0\n"},
        {{"--loopback=1"}, ""},
        {{"--colour"}, "tamix-lsl: unknown argument --colour\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {TAMIX_LSL_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramResult r = RunProgram(argv);
        EXPECT_EQ(r.exitCode, 2) << c.args[0];
        if (!c.message.empty()) {
            EXPECT_EQ(r.err, c.message + "Try 'tamix-lsl --help'.\n");
        }
    }
    const ProgramResult version = RunProgram({TAMIX_LSL_PATH, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tamix-lsl " TAMIX_VERSION "\n");
}

}  // namespace
}  // namespace tamix
