#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/MeasurementSetup.h"
#include "base/Utf8Text.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

using test::ReadBytes;
using test::TempDir;

template <typename T>
T At(const std::vector<uint8_t>& b, std::size_t offset) {
    T v{};
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// Writes a whole file as the worker does: header, samples, trailer, size patch.
class WdqFileTest : public ::testing::Test {
  protected:
    std::vector<uint8_t> Record(int n, const std::vector<int16_t>& samples,
                                int64_t headerScans = 0) {
        const std::string path = dir.File("run.wdq");
        std::string error;
        auto file = DefaultFileOpener().Create(path, error);
        EXPECT_TRUE(file) << error;
        std::array<uint8_t, kWdqHeaderBytes> header{};
        const std::span<const ChannelInfo> channels(setup->channels.data(), n);
        BuildWdqHeader(header, headerScans, n, 0.002, channels, 1765324800);
        EXPECT_TRUE(file->Write(header.data(), header.size()));
        for (const int16_t s : samples) {
            uint8_t bytes[2];
            PutWdqSample(bytes, s);
            EXPECT_TRUE(file->Write(bytes, 2));
        }
        EXPECT_TRUE(WriteWdqTrailer(*file, setup->markers, setup->markers.markerCount, channels,
                                    1765324800));
        EXPECT_TRUE(PatchWdqDataSize(*file, samples.size() * 2));
        EXPECT_TRUE(file->Close());
        return ReadBytes(path);
    }

    TempDir dir;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

TEST_F(WdqFileTest, HeaderFieldsFollowTheFormat) {
    for (const auto& [n, first4] : {std::pair{1, std::array<uint8_t, 4>{0x21, 0, 0xF4, 0x01}},
                                    std::pair{2, std::array<uint8_t, 4>{0x22, 0, 0xE8, 0x03}},
                                    std::pair{8, std::array<uint8_t, 4>{0x28, 0, 0xA0, 0x0F}}}) {
        std::array<uint8_t, kWdqHeaderBytes> h{};
        BuildWdqHeader(h, 30008, n, 0.002, std::span(setup->channels).first(n), 1000);
        EXPECT_TRUE(std::equal(first4.begin(), first4.end(), h.begin())) << n;
        std::vector<uint8_t> b(h.begin(), h.end());
        EXPECT_EQ(b[4], 110);
        EXPECT_EQ(b[5], 36);
        EXPECT_EQ(At<uint16_t>(b, 6), 1156);
        EXPECT_EQ(At<uint32_t>(b, 8), 30008u * 2 * n);
        EXPECT_EQ(At<uint16_t>(b, 18), 412);
        EXPECT_EQ(At<uint16_t>(b, 20), 552);
        EXPECT_EQ(At<uint16_t>(b, 22), 0xFF34);
        EXPECT_EQ(b[26], n);
        EXPECT_EQ(At<double>(b, 28), 0.002);
        EXPECT_EQ(At<uint32_t>(b, 36), 1000u);
        EXPECT_EQ(At<uint32_t>(b, 40), 1001u);
        EXPECT_EQ(At<uint32_t>(b, 44), 4u);
        EXPECT_EQ(At<uint16_t>(b, 60), 0xFEF0);
        EXPECT_EQ(At<uint16_t>(b, 62), 271);
        EXPECT_EQ(b[64], 87);
        EXPECT_EQ(b[67], 65);
        EXPECT_EQ(b[68 + 31], 31);
        EXPECT_EQ(At<uint16_t>(b, 1154), 0x8001);
        const std::size_t e = 110 + 36 * (n - 1);
        EXPECT_EQ(At<float>(b, e), 8.0f);
        EXPECT_EQ(At<double>(b, e + 8), 0.001220703125);
        EXPECT_EQ(At<double>(b, e + 16), 0.0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[e + 24])), "Volt");
        EXPECT_EQ(b[e + 32], n);
    }
}

TEST_F(WdqFileTest, UnusedChannelEntriesAreClearedBetweenRecordings) {
    std::array<uint8_t, kWdqHeaderBytes> h{};
    BuildWdqHeader(h, 8, 8, 0.002, setup->channels, 1000);
    BuildWdqHeader(h, 8, 1, 0.002, std::span(setup->channels).first(1), 1000);
    std::array<uint8_t, kWdqHeaderBytes> fresh{};
    BuildWdqHeader(fresh, 8, 1, 0.002, std::span(setup->channels).first(1), 1000);
    EXPECT_EQ(h, fresh);
}

TEST_F(WdqFileTest, TheStartMarkerAloneCarriesItsTimeStampAndComment) {
    const auto b = Record(2, {100, 200, 300, 400});
    const std::size_t trailer = 1156 + 8;
    EXPECT_EQ(At<uint32_t>(b, 8), 8u);
    EXPECT_EQ(At<uint32_t>(b, 12), 12u);
    EXPECT_EQ(At<uint16_t>(b, 16), 10);
    EXPECT_EQ(At<uint32_t>(b, trailer), 0u);
    EXPECT_EQ(At<uint32_t>(b, trailer + 4), 0u);
    EXPECT_EQ(At<uint32_t>(b, trailer + 8), 0x8000000Au);
    const std::string rest(b.begin() + trailer + 12, b.end());
    EXPECT_EQ(rest, std::string("Chn0\0Chn1\0Acquisition start\0", 28));
}

TEST_F(WdqFileTest, MarkersRoundTripThroughAReader) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 3000; ++i) samples.push_back(static_cast<int16_t>(i * 20 - 30000));
    setup->AddMarker(1234, "stimulus", 0);
    setup->AddMarker(1300, "", 0);
    setup->AddMarker(0, "pause at the start", 1765324800 + 7);
    setup->AddMarker(2999, "Pause time:00:00:30", 0);
    CopyText(setup->channels[0].name, "Druck \xC3\xA9", kNameChars);
    const auto b = Record(1, samples);
    EXPECT_EQ(At<uint32_t>(b, 1156 + 3000 * 2 + 12), 0xFFFFFB2Eu) << "scan 1234 is negated";
    EXPECT_EQ(At<uint32_t>(b, 12), 12u + 8 + 8 + 12 + 8);

    std::string error;
    const auto f = test::ReadWdq(b, error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->ScanCount(), 3000);
    EXPECT_EQ(f->channels[0].name, "Druck \xE9") << "names are Windows-1252 in the file";
    EXPECT_EQ(f->channels[0].unit, "Volt");
    ASSERT_EQ(f->markers.size(), 5u);
    const std::vector<std::pair<int64_t, std::string>> expected = {{0, "Acquisition start"},
                                                                   {1234, "stimulus"},
                                                                   {1300, ""},
                                                                   {0, "pause at the start"},
                                                                   {2999, "Pause time:00:00:30"}};
    for (std::size_t m = 0; m < expected.size(); ++m) {
        EXPECT_EQ(f->markers[m].scan, expected[m].first) << m;
        EXPECT_EQ(f->markers[m].comment, expected[m].second) << m;
    }
    EXPECT_EQ(f->markers[0].timeStamp, 0u);
    EXPECT_EQ(f->markers[3].timeStamp, 7u);
    // Engineering values: (sample >> 2) × slope + intercept = volts.
    EXPECT_NEAR(f->Value(1500, 0), (1500 * 20 - 30000) / 3276.8, 1e-3);
}

TEST_F(WdqFileTest, TwoHundredMarkersAndSamplesKeepTheirEventBitsClear) {
    std::vector<int16_t> samples(2000);
    for (int i = 0; i < 2000; ++i) samples[i] = static_cast<int16_t>(i * 33 - 32768 + 3);
    for (int m = 1; m < 200; ++m) setup->AddMarker(m * 10, "m" + std::to_string(m), 0);
    const auto b = Record(1, samples);
    std::string error;
    const auto f = test::ReadWdq(b, error);
    ASSERT_TRUE(f) << error;
    ASSERT_EQ(f->markers.size(), 200u);
    EXPECT_EQ(f->markers[199].scan, 1990);
    EXPECT_EQ(f->markers[199].comment, "m199");
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(f->samples[i] & 3, 0);
        ASSERT_LE(std::abs(f->samples[i] - samples[i]), 2) << samples[i];
    }
}

// Samples are stored as the nearest multiple of 4, halfway values as the
// multiple of 8, and the top of the range as the largest multiple of 4.
TEST(WdqSampleTest, SamplesRoundToTheNearestStoredValue) {
    const std::pair<int16_t, int16_t> cases[] = {
        {-32768, -32768}, {-32767, -32768}, {-32766, -32768}, {-32765, -32764}, {-7, -8},
        {-6, -8},         {-5, -4},         {-4, -4},         {-3, -4},         {-2, 0},
        {-1, 0},          {0, 0},           {1, 0},           {2, 0},           {3, 4},
        {5, 4},           {6, 8},           {7, 8},           {10, 8},          {14, 16},
        {32763, 32764},   {32764, 32764},   {32765, 32764},   {32766, 32764},   {32767, 32764},
    };
    for (const auto& [sample, stored] : cases) {
        uint8_t bytes[2];
        PutWdqSample(bytes, sample);
        EXPECT_EQ(static_cast<int16_t>(bytes[0] | bytes[1] << 8), stored) << sample;
    }
    // Over every sample the writer may see, the stored values lean neither way.
    int64_t error = 0;
    for (int v = -32760; v < 32760; ++v) {
        uint8_t bytes[2];
        PutWdqSample(bytes, static_cast<int16_t>(v));
        error += static_cast<int16_t>(bytes[0] | bytes[1] << 8) - v;
    }
    EXPECT_EQ(error, 0);
}

TEST(WdqLimitsTest, FilesStayWithinTheirSizeFieldAndUnambiguousPointers) {
    EXPECT_EQ(MaxWdqScans(1), int64_t{1} << 30);
    EXPECT_EQ(MaxWdqScans(8), 0xFFFFFFFFLL / 16 / 8 * 8);
    for (int n = 1; n <= 8; ++n) {
        EXPECT_LE(MaxWdqScans(n) * 2 * n, 0xFFFFFFFFLL);
        EXPECT_EQ(MaxWdqScans(n) % 8, 0);
    }
}

TEST(WdqReaderTest, RejectsTruncatedAndGarbageFiles) {
    std::string error;
    EXPECT_FALSE(test::ReadWdq(std::vector<uint8_t>(100, 0), error));
    std::vector<uint8_t> garbage(2000, 0xFF);
    EXPECT_FALSE(test::ReadWdq(garbage, error));
}

}  // namespace
}  // namespace tamix
