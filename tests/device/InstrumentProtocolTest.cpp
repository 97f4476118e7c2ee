#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <memory>

#include "acquisition/MeasurementSetup.h"
#include "device/InstrumentProtocol.h"
#include "device/SignalGenerator.h"
#include "device/SimulatedDriver.h"

namespace tamix {
namespace {

TEST(IdentifyDeviceTest, KnowsEverySerialOfTheTable) {
    struct Row {
        const char* serial;
        int rate;
        const char* model;
        double period;
        int modelClass;
    };
    const double norv = std::bit_cast<double>(uint64_t{0x3F60678C2DEC3A85});
    for (const Row& r :
         {Row{"A30008SN", 115200, "KPR-T310", 0.002, 1},
          Row{"A3000B6G", 57600, "KPR-T310", 0.002, 1},
          Row{"A3000B6H", 57600, "KPR-T310", 0.002, 1}, Row{"A30008SG", 115200, "HLX-7", 0.002, 2},
          Row{"A3000B6u", 115200, "NORV40", norv, 3}, Row{"A60089Rz", 1500000, "TIRQEL", 0.001, 4},
          Row{"A4001lsz", 1500000, "KPR-44B", 0.001, 3},
          Row{"A30008SNXYZ", 115200, "KPR-T310", 0.002, 1}}) {
        SCOPED_TRACE(r.serial);
        DeviceProfile p;
        ASSERT_EQ(IdentifyDevice(r.serial, p), 0);
        EXPECT_EQ(p.lineRate, r.rate);
        EXPECT_EQ(p.ModelName(), r.model);
        EXPECT_EQ(p.samplePeriod, r.period);
        EXPECT_EQ(p.modelClass, r.modelClass);
    }
    EXPECT_EQ(norv, 0.0020025003317479272);
}

TEST(IdentifyDeviceTest, UnknownSerialsLeaveTheProfileAlone) {
    DeviceProfile p;
    ASSERT_EQ(IdentifyDevice("A3000B6G", p), 0);
    for (const char* serial : {"a30008sn", "", "A30008S", "FT123456"}) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(IdentifyDevice(serial, p), 1);
        EXPECT_EQ(p.lineRate, 57600);
        EXPECT_EQ(p.ModelName(), "KPR-T310");
    }
}

TEST(ConvertSampleTest, GivesTheCommonSampleUnitForEveryClass) {
    struct Case {
        uint8_t hi, lo;
        int modelClass, input;
        int16_t expected;
    };
    const Case cases[] = {
        {0x80, 0x00, 4, 0, 0},      {0x00, 0x00, 4, 0, -32768}, {0xFF, 0xFF, 4, 7, 32767},
        {0x00, 0x04, 3, 0, -4},     {0x00, 0x07, 3, 0, -4},     {0xFF, 0xFC, 3, 0, 4},
        {0x80, 0x00, 3, 0, -32768}, {0x7F, 0xFF, 3, 0, -32764}, {0x08, 0x00, 1, 0, 0},
        {0x08, 0x00, 2, 6, 0},      {0x0F, 0xFF, 1, 5, 32752},  {0x0F, 0xFF, 1, 2, -32752},
        {0x08, 0x01, 1, 4, 16},     {0x08, 0x01, 1, 0, -16},    {0x00, 0x00, 1, 6, -32768},
        {0x00, 0x00, 2, 2, -32768}, {0x18, 0x00, 1, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.hi) << " " << int(c.lo) << " class "
                                        << c.modelClass << " input " << c.input);
        EXPECT_EQ(ConvertSample(c.hi, c.lo, c.modelClass, c.input), c.expected);
    }
}

TEST(SignalGeneratorTest, EncodedWordsConvertBackToTheIntendedSample) {
    for (int modelClass = 1; modelClass <= 4; ++modelClass) {
        for (int input = 0; input < 8; ++input) {
            for (long v = -33000; v <= 33000; v += 97) {
                const int16_t s = SignalGenerator::Representable(v, modelClass, input);
                const uint16_t w = SignalGenerator::EncodeWord(s, modelClass, input, v & 0xF);
                ASSERT_EQ(ConvertSample(w >> 8, w & 0xFF, modelClass, input), s)
                    << "class " << modelClass << " input " << input << " v " << v;
            }
        }
    }
}

// A simulated driver with one unit and a setup record selecting `inputs`.
struct Bench {
    explicit Bench(SimulatedUnitOptions unit, std::vector<int> inputs, double timeoutScale = 0.01)
        : driver(std::vector<SimulatedUnitOptions>{std::move(unit)}, timeoutScale) {
        setup->link.SetDriver(&driver);
        setup->channelCount = static_cast<int>(inputs.size());
        for (std::size_t k = 0; k < inputs.size(); ++k) setup->channels[k].inputNumber = inputs[k];
    }
    std::vector<uint8_t> Received() const { return driver.ReceivedBytes(0); }

    SimulatedDriver driver;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

SimulatedUnitOptions Unit(const char* serial, bool paced = false) {
    SimulatedUnitOptions o;
    o.serial = serial;
    o.paced = paced;
    return o;
}

TEST(SetupDeviceTest, SendsEachModelsProgrammingAndReadsEveryReply) {
    struct Case {
        const char* serial;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"A30008SN", {'$', 'C', 3, 0, 2, 5}},
        {"A3000B6H", {'$', 'C', 3, 0, 2, 5}},
        {"A30008SG", {'$', 'C', 3, 0, 2, 5}},
        {"A4001lsz", {'$', 'C', 3, 0, 2, 5}},
        {"A3000B6u", {'$', 'C', 1, 0, 1, 0, 0, 1, 0, 0}},
        {"A60089Rz", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        SimulatedUnitOptions unit = Unit(c.serial);
        unit.fixedInputs = {0, 2, 5};
        Bench bench(unit, {0, 2, 5});
        MeasurementSetup& s = *bench.setup;
        ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
        EXPECT_EQ(bench.Received(), c.bytes);
        // Every reply was read: nothing is left waiting on the line.
        EXPECT_EQ(s.link.ReadByte(), 255);
        EXPECT_EQ(bench.driver.LineRate(0), static_cast<uint32_t>(s.profile.lineRate));
        // Start, two batches and the stop, byte for byte.
        StartStreaming(s.link);
        std::array<uint8_t, 48> batch{};
        ASSERT_TRUE(ReadBatch(s.link, 3, batch).Complete(3));
        ASSERT_TRUE(ReadBatch(s.link, 3, batch).Complete(3));
        StopStreaming(s.link);
        std::vector<uint8_t> expected = c.bytes;
        expected.insert(expected.end(), {'$', 'S', 0, 0, 0, 0, 0, 0, 0x1B});
        EXPECT_EQ(bench.Received(), expected);
    }
}

TEST(SetupDeviceTest, OnlyTheUnitWithoutProgrammingGetsRtsCts) {
    Bench tirqel(Unit("A60089Rz"), {0});
    ASSERT_EQ(
        SetupDevice(tirqel.setup->link, tirqel.setup->profile, tirqel.setup->SelectedChannels()),
        SetupResult::Ok);
    EXPECT_EQ(tirqel.driver.FlowControlModes(0), (std::vector<uint32_t>{0, 0x0100}));
    Bench kpr(Unit("A30008SN"), {0});
    ASSERT_EQ(SetupDevice(kpr.setup->link, kpr.setup->profile, kpr.setup->SelectedChannels()),
              SetupResult::Ok);
    EXPECT_EQ(kpr.driver.FlowControlModes(0), (std::vector<uint32_t>{0}));
}

TEST(SetupDeviceTest, FailsWithoutAUsableUnitAndKeepsTheProfile) {
    SimulatedUnitOptions held = Unit("A30008SN");
    held.heldByOther = true;
    for (const SimulatedUnitOptions& unit : {Unit("FT9XK2QA"), Unit(""), held}) {
        SCOPED_TRACE(unit.serial);
        Bench bench(unit, {0});
        IdentifyDevice("A60089Rz", bench.setup->profile);
        EXPECT_EQ(
            SetupDevice(bench.setup->link, bench.setup->profile, bench.setup->SelectedChannels()),
            SetupResult::NoUnit);
        EXPECT_FALSE(bench.setup->link.IsOpen());
        if (!unit.heldByOther) {
            EXPECT_EQ(bench.setup->profile.ModelName(), "TIRQEL");
            EXPECT_TRUE(bench.Received().empty());
        }
    }
    Bench none(Unit("A30008SN"), {0});
    SimulatedDriver empty({});
    none.setup->link.SetDriver(&empty);
    EXPECT_EQ(SetupDevice(none.setup->link, none.setup->profile, none.setup->SelectedChannels()),
              SetupResult::NoUnit);
}

// A unit that does not echo its first command byte is not the unit its serial
// names: the set-up ends there, after one reply timeout, with nothing more sent.
TEST(SetupDeviceTest, ASilentUnitIsNoUnitAtItsFirstUnansweredReply) {
    SimulatedUnitOptions silent = Unit("A30008SN");
    silent.neverAnswers = true;
    Bench bench(silent, {0, 1});
    EXPECT_EQ(SetupDevice(bench.setup->link, bench.setup->profile, bench.setup->SelectedChannels()),
              SetupResult::NoUnit);
    EXPECT_EQ(bench.Received(), std::vector<uint8_t>{kCommandPrefix});
}

// Reads `seconds` of scans through the link and checks every sample against
// the signal the unit means to send.
void ExpectSignals(const char* serial, std::vector<int> inputs, double seconds) {
    SCOPED_TRACE(serial);
    Bench bench(Unit(serial), inputs);
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    const int n = s.channelCount;
    const auto scans = static_cast<int64_t>(seconds / s.profile.samplePeriod);
    std::array<uint8_t, 128> batch{};
    double worst = 0;
    for (int64_t first = 0; first < scans; first += 8) {
        ASSERT_TRUE(ReadBatch(s.link, n, batch).Complete(n));
        for (int j = 0; j < 8; ++j) {
            const double t = static_cast<double>(first + j) * s.profile.samplePeriod;
            for (int k = 0; k < n; ++k) {
                const int w = j * n + k;
                const int16_t v =
                    ConvertSample(batch[2 * w], batch[2 * w + 1], s.profile.modelClass, inputs[k]);
                ASSERT_EQ(v, SignalGenerator::IntendedSample(inputs[k], t, s.profile.modelClass))
                    << "scan " << first + j << " input " << inputs[k];
                worst =
                    std::max(worst, std::fabs(v / 3276.8 - SignalGenerator::Volts(inputs[k], t)));
            }
        }
    }
    // Within the coarsest resolution (16 counts) of the clamped range.
    EXPECT_LE(worst, 16 / 3276.8 + 1e-9);
    StopStreaming(s.link);
    s.link.Close();
    EXPECT_EQ(bench.driver.LostScans(0), 0);
}

TEST(SimulatedSignalsTest, EveryModelDeliversTheIntendedSignals) {
    ExpectSignals("A30008SN", {0, 1, 2, 4, 7}, 3.0);
    ExpectSignals("A30008SG", {3, 5, 6}, 3.0);
    ExpectSignals("A3000B6u", {0, 2, 5}, 3.0);
    ExpectSignals("A4001lsz", {0, 1, 2, 3, 4, 5, 6, 7}, 3.0);
    ExpectSignals("A60089Rz", {0, 1, 2, 3}, 3.0);
}

TEST(SimulatedSignalsTest, ThreeChannelBatchesStraddleScanBoundaries) {
    Bench bench(Unit("A30008SN"), {0, 2, 6});
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::array<uint8_t, 48> batch{};
    ASSERT_TRUE(ReadBatch(s.link, 3, batch).Complete(3));
    const std::vector<uint8_t> sent = bench.Received();
    EXPECT_EQ(std::vector<uint8_t>(sent.end() - 3, sent.end()), (std::vector<uint8_t>{0, 0, 0}));
    // Word 7 (bytes 14, 15) ends the first block: scan 2, channel position 1 (input 2).
    EXPECT_EQ(ConvertSample(batch[14], batch[15], 1, 2),
              SignalGenerator::IntendedSample(2, 0.004, 1));
    EXPECT_EQ(ConvertSample(batch[16], batch[17], 1, 6),
              SignalGenerator::IntendedSample(6, 0.004, 1));
}

TEST(SimulatedSignalsTest, ThePacedFastestUnitSetsThePace) {
    SimulatedUnitOptions tirqel = Unit("A60089Rz", true);
    tirqel.fixedInputs = {0, 1, 2, 3, 4, 5, 6, 7};
    Bench bench(tirqel, {0, 1, 2, 3, 4, 5, 6, 7}, 1.0);
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::array<uint8_t, 128> batch{};
    const auto t0 = std::chrono::steady_clock::now();
    for (int b = 0; b < 125; ++b) ASSERT_TRUE(ReadBatch(s.link, 8, batch).Complete(8));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(bench.driver.LostScans(0), 0);
}

TEST(SimulatedSignalsTest, APacedBatchWaitsOnceForItsWholeCycle) {
    // Eight channels at 1 ms: before, every 16-byte block of a batch waited
    // for its scan on its own, eight waits per batch.
    SimulatedUnitOptions unit = Unit("A4001lsz", true);
    Bench bench(unit, {0, 1, 2, 3, 4, 5, 6, 7}, 1.0);
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::array<uint8_t, 128> batch{};
    for (int b = 0; b < 60; ++b) ASSERT_TRUE(ReadBatch(s.link, 8, batch).Complete(8)) << b;
    EXPECT_LE(bench.driver.ReadWaits(0), 2);
    EXPECT_EQ(bench.driver.LostScans(0), 0);
    // The exchange itself is unchanged: one request before each block.
    const std::vector<uint8_t> sent = bench.Received();
    EXPECT_EQ(std::count(sent.end() - 480, sent.end(), uint8_t{0}), 480);
}

TEST(SimulatedSignalsTest, AHostThatFallsBehindLosesCountedScans) {
    Bench bench(Unit("A30008SN", true), {0, 1, 2, 3}, 1.0);
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::array<uint8_t, 64> batch{};
    ASSERT_TRUE(ReadBatch(s.link, 4, batch).Complete(4));
    // 4 KiB hold 512 scans of 4 channels; 750 were due.
    EXPECT_GT(bench.driver.LostScans(0), 150);
}

TEST(SimulatedSignalsTest, AnUnpluggedUnitFailsItsReads) {
    SimulatedUnitOptions unit = Unit("A30008SN");
    unit.unplugAfterScans = 20;
    Bench bench(unit, {0});
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::array<uint8_t, 16> batch{};
    EXPECT_TRUE(ReadBatch(s.link, 1, batch).Complete(1));
    EXPECT_TRUE(ReadBatch(s.link, 1, batch).Complete(1));
    const BatchResult third = ReadBatch(s.link, 1, batch);
    EXPECT_EQ(third.bytesReceived, 8u);
    EXPECT_EQ(third.status, FT_IO_ERROR);
}

TEST(SimulatedSignalsTest, StopEndsTheStreamAndANewSetUpStartsOver) {
    Bench bench(Unit("A30008SN"), {0});
    MeasurementSetup& s = *bench.setup;
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    std::array<uint8_t, 16> batch{};
    ASSERT_TRUE(ReadBatch(s.link, 1, batch).Complete(1));
    StopStreaming(s.link);
    s.link.Close();
    ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
    StartStreaming(s.link);
    ASSERT_TRUE(ReadBatch(s.link, 1, batch).Complete(1));
    EXPECT_EQ(ConvertSample(batch[0], batch[1], 1, 0), SignalGenerator::IntendedSample(0, 0.0, 1));
}

// Every row of the known units: the host's set-up and the simulated unit agree
// on its channel programming and flow control, and the inputs asked for are
// the inputs streamed.
TEST(KnownUnitsTest, EveryRowSetsUpAndStreamsTheSelectedInputs) {
    const std::vector<int> inputs = {1, 3, 6};
    for (const KnownUnit& row : KnownUnits()) {
        SCOPED_TRACE(row.serial);
        SimulatedUnitOptions unit = Unit(std::string(row.serial).c_str());
        unit.fixedInputs = inputs;  // what a unit without programming was set to
        Bench bench(unit, inputs);
        MeasurementSetup& s = *bench.setup;
        ASSERT_EQ(SetupDevice(s.link, s.profile, s.SelectedChannels()), SetupResult::Ok);
        EXPECT_EQ(s.profile.ModelName(), row.modelName);
        const std::vector<uint32_t> flow = bench.driver.FlowControlModes(0);
        EXPECT_EQ(flow.back(), row.rtsCts ? FT_FLOW_RTS_CTS : FT_FLOW_NONE);
        const std::vector<uint8_t> sent = bench.Received();
        switch (row.programming) {
            case ChannelProgramming::ChannelList:
                EXPECT_EQ(sent, (std::vector<uint8_t>{'$', 'C', 3, 1, 3, 6}));
                break;
            case ChannelProgramming::InputMask:
                EXPECT_EQ(sent, (std::vector<uint8_t>{'$', 'C', 0, 1, 0, 1, 0, 0, 1, 0}));
                break;
            case ChannelProgramming::None:
                EXPECT_TRUE(sent.empty());
                break;
        }
        StartStreaming(s.link);
        std::array<uint8_t, 48> batch{};
        ASSERT_TRUE(ReadBatch(s.link, 3, batch).Complete(3));
        for (int j = 0; j < 8; ++j) {
            for (int k = 0; k < 3; ++k) {
                const int w = j * 3 + k;
                EXPECT_EQ(ConvertSample(batch[2 * w], batch[2 * w + 1], row.modelClass, inputs[k]),
                          SignalGenerator::IntendedSample(inputs[k], j * row.samplePeriod,
                                                          row.modelClass));
            }
        }
    }
}

// A unit that has streamed for a long time while nobody read: the scans that
// fit carry the signal of their own instant, whether the unit plays them from
// a table (whole-tick periods) or computes them.
TEST(SimulatedUnitTest, ScansFarIntoTheStreamCarryTheSignalOfTheirInstant) {
    for (const char* serial : {"A4001lsz", "A30008SG", "A60089Rz"}) {
        SCOPED_TRACE(serial);
        SimulatedUnitOptions options = Unit(serial, true);
        options.fixedInputs = {0, 2, 3, 4, 5, 7};
        SimulatedUnit unit(options);
        const auto t0 = SimulatedUnit::Clock::now();
        if (unit.model()->programming == ChannelProgramming::ChannelList) {
            for (const int b : {int{'$'}, int{'C'}, 6, 0, 2, 3, 4, 5, 7}) {
                unit.HostWrite(static_cast<uint8_t>(b), t0);
            }
        }
        for (const char b : {'$', 'S'}) unit.HostWrite(static_cast<uint8_t>(b), t0);
        std::array<uint8_t, 64> scratch{};
        unit.Take(scratch.data(), scratch.size());  // the replies
        const double period = unit.model()->samplePeriod;
        const auto far = t0 + std::chrono::milliseconds(12'345'678);  // 3 h 25 min
        unit.Advance(far, 0);
        ASSERT_GT(unit.lostScans(), 0);
        // The full FIFO kept the oldest scans; read them away, and the scans
        // made from now on are those far into the stream.
        std::vector<uint8_t> oldest(unit.Buffered());
        unit.Take(oldest.data(), oldest.size());
        const int64_t first = unit.producedScans();
        unit.Advance(far + std::chrono::milliseconds(40), 0);
        const std::vector<int>& inputs = unit.streamedInputs();
        std::vector<uint8_t> bytes(unit.Buffered());
        ASSERT_GT(bytes.size(), 0u);
        unit.Take(bytes.data(), bytes.size());
        const std::size_t scanBytes = inputs.size() * 2;
        const int modelClass = unit.model()->modelClass;
        for (std::size_t at = 0; at < bytes.size(); at += 2) {
            const int64_t scan = first + static_cast<int64_t>(at / scanBytes);
            const int input = inputs[at % scanBytes / 2];
            const int16_t want = SignalGenerator::IntendedSample(
                input, static_cast<double>(scan) * period, modelClass);
            ASSERT_EQ((bytes[at] << 8) | bytes[at + 1],
                      SignalGenerator::EncodeWord(want, modelClass, input,
                                                  static_cast<unsigned>(scan + input)))
                << "scan " << scan << " input " << input;
        }
    }
}

}  // namespace
}  // namespace tamix
