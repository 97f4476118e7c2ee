#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "WdqBytes.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
#include "recording/OutputFile.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

using test::MakeWdqBytes;
using test::WdqBytesSpec;

struct Parsed {
    bool ok = false;
    RecordingInfo info;
    WdqLayout layout;
    std::string reason;
};

Parsed Parse(const std::vector<uint8_t>& bytes) {
    // An exact-size copy, so that AddressSanitizer sees any read past the end.
    const std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    Parsed p;
    p.ok = ParseWdq(exact, p.info, p.layout, p.reason);
    return p;
}

// Two channels, four scans, the start marker and one more with a comment.
WdqBytesSpec GoodSpec() {
    WdqBytesSpec s;
    s.samples = {400, -800, 1200, -1600, 2000, -2400, 2800, -3200};
    // Start marker with a time stamp, then a marker at scan 3 without one.
    s.events = {0, 0, 0x80000000u | 10, static_cast<uint32_t>(-3), 0x80000000u | 28};
    s.annotations = std::string("Temp\xB0\0Flow\0", 10) + std::string("Acquisition start\0", 18) +
                    std::string("caf\xE9\0", 5);
    s.annotationSize = 10;
    return s;
}

TEST(WdqFileReader, ReadsEveryMarkerFormAndDecodesWindows1252) {
    const Parsed p = Parse(MakeWdqBytes(GoodSpec()));
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_FALSE(p.info.incomplete);
    ASSERT_EQ(p.info.channels.size(), 2u);
    EXPECT_EQ(p.info.channels[0].Name(), "Temp\xC2\xB0");
    EXPECT_EQ(p.info.channels[1].Name(), "Flow");
    EXPECT_EQ(p.info.channels[1].Unit(), "\xC2\xB5V");
    EXPECT_DOUBLE_EQ(p.info.channels[1].valueAt1V, 2.0);
    EXPECT_DOUBLE_EQ(p.info.channels[1].valueAt0V, 1.0);
    EXPECT_EQ(p.info.scanCount, 4);
    ASSERT_EQ(p.info.markers.size(), 2u);
    EXPECT_EQ(p.info.markers[0].scan, 0);
    ASSERT_TRUE(p.info.markers[0].timeStamp.has_value());
    EXPECT_EQ(p.info.markers[0].comment, "Acquisition start");
    EXPECT_EQ(p.info.markers[1].scan, 3);
    EXPECT_FALSE(p.info.markers[1].timeStamp.has_value());
    EXPECT_EQ(p.info.markers[1].comment, "caf\xC3\xA9");
}

// Both channel-count layouts, HiRes and event bits.
TEST(WdqFileReader, ChannelByteAndSampleFlags) {
    struct Case {
        const char* what;
        uint8_t channelByte;
        uint16_t flags;
        int16_t word;
        int16_t sample;
    };
    const Case cases[] = {
        {"bit 5 set", 0x22, 0, 4000, 4000},
        {"bit 5 clear", 0x02, 0, 4000, 4000},
        {"event bits cleared", 0x22, 0, 4003, 4000},
        {"negative with event bits", 0x22, 0, -3999, -4000},
        {"HiRes keeps all bits", 0x22, 0x0002, 4003, 4003},
    };
    for (const Case& c : cases) {
        WdqBytesSpec s = GoodSpec();
        s.channelByte = c.channelByte;
        s.flags = c.flags;
        s.samples[2] = c.word;
        const std::string path = [&] {
            static test::TempDir dir;
            const std::string f = dir.File(std::string(c.what) + ".wdq");
            const auto bytes = MakeWdqBytes(s);
            std::FILE* out = std::fopen(f.c_str(), "wb");
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
            return f;
        }();
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        ASSERT_TRUE(reader) << c.what << ": " << error;
        ASSERT_EQ(reader->Info().channels.size(), 2u) << c.what;
        std::array<int16_t, 8> samples{};
        std::array<double, 8> values{};
        ASSERT_TRUE(reader->ReadSamples(0, 4, samples)) << c.what;
        ASSERT_TRUE(reader->ReadValues(0, 4, values)) << c.what;
        EXPECT_EQ(samples[2], c.sample) << c.what;
        EXPECT_DOUBLE_EQ(values[2], EngineeringValue(c.sample, reader->Info().channels[0]))
            << c.what;
        EXPECT_FALSE(reader->ReadSamples(2, 3, samples)) << "past the end: " << c.what;
    }
}

// The channel count follows the format's rule, whatever else bytes 0 and 1
// carry: with byte 1 clear the low five bits of byte 0 (its upper bits are
// flags, set or not by the writer), with byte 1 set all of byte 0, in a
// header whose size leaves room for that many entries. Every channel, marker
// and value is checked against a decoding of the bytes written here: a
// reader's count is the stored word shifted right by two, times the slope,
// plus the intercept.
TEST(WdqFileReader, TheChannelCountFollowsTheFormatsRule) {
    struct Case {
        const char* what;
        uint8_t byte0;
        uint8_t byte1;
        uint16_t headerBytes;
        int channels;  // 0: refused
    };
    constexpr uint16_t kWide = 110 + 36 * 144 + 2;  // room for 144 entries
    const Case cases[] = {
        {"bit 5 set, as Tamix writes", 0x22, 0, 1156, 2},
        {"bit 5 clear", 0x02, 0, 1156, 2},
        {"bit 7 set, bit 5 clear", 0x86, 0, 1156, 6},
        {"bit 6 set", 0x46, 0, 1156, 6},
        {"bits 5, 6 and 7 set", 0xE6, 0, 1156, 6},
        {"29 channels, bit 5 clear", 0x1D, 0, 1156, 29},
        {"29 channels, bit 5 set", 0x3D, 0, 1156, 29},
        {"one channel, bit 7 set", 0x81, 0, 1156, 1},
        {"40 channels in a wide header", 40, 0x01, kWide, 40},
        {"144 channels in a wide header", 144, 0x80, kWide, 144},
        {"31 channels where 29 fit", 0x3F, 0, 1156, 0},
        {"40 channels where 29 fit", 40, 0x01, 1156, 0},
        {"no channels, flags only", 0xE0, 0, 1156, 0},
        {"200 channels where 144 fit", 200, 0x01, kWide, 0},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const int n = c.channels > 0 ? c.channels : 2;
        constexpr int kScans = 7;
        WdqBytesSpec s;
        s.channelByte = c.byte0;
        s.channelByte1 = c.byte1;
        s.channels = n;
        s.headerBytes = c.headerBytes;
        s.slopes.clear();
        s.intercepts.clear();
        s.units.clear();
        std::string names;
        for (int k = 0; k < n; ++k) {
            s.slopes.push_back((k + 1) * 0.25 / 819.2 * (k % 2 == 0 ? 1 : -1));
            s.intercepts.push_back(k * 0.5 - 3);
            s.units.push_back("u" + std::to_string(k));
            names += "ch" + std::to_string(k) + '\0';
        }
        for (int i = 0; i < kScans * n; ++i) {
            s.samples.push_back(static_cast<int16_t>((i * 7919) % 65536 - 32768));
        }
        // The start marker with a time stamp, then one at scan 5 with a comment.
        const auto a = static_cast<uint32_t>(names.size());
        s.events = {0, 1700000000u, 0x80000000u | a, static_cast<uint32_t>(-5),
                    0x80000000u | (a + 6)};
        s.annotations = names + std::string("start\0fifth\0", 12);
        s.annotationSize = static_cast<uint16_t>(a);
        const std::string path = dir.File(std::to_string(&c - cases) + ".wdq");
        const std::vector<uint8_t> bytes = MakeWdqBytes(s);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);

        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        if (c.channels == 0) {
            EXPECT_FALSE(reader) << c.what;
            EXPECT_EQ(error, path +
                                 ": it is not a WinDaq file (its header does not describe "
                                 "channels)")
                << c.what;
            continue;
        }
        ASSERT_TRUE(reader) << c.what << ": " << error;
        const RecordingInfo& info = reader->Info();
        ASSERT_EQ(info.channels.size(), static_cast<std::size_t>(n)) << c.what;
        EXPECT_FALSE(info.incomplete) << c.what;
        EXPECT_EQ(info.scanCount, kScans) << c.what;
        for (int k = 0; k < n; ++k) {
            const ChannelInfo& ch = info.channels[static_cast<std::size_t>(k)];
            EXPECT_EQ(ch.Name(), "ch" + std::to_string(k)) << c.what;
            EXPECT_EQ(ch.Unit(), "u" + std::to_string(k)) << c.what;
        }
        ASSERT_EQ(info.markers.size(), 2u) << c.what;
        EXPECT_EQ(info.markers[0].scan, 0) << c.what;
        EXPECT_EQ(info.markers[0].timeStamp, 1700000000u) << c.what;
        EXPECT_EQ(info.markers[0].comment, "start") << c.what;
        EXPECT_EQ(info.markers[1].scan, 5) << c.what;
        EXPECT_EQ(info.markers[1].comment, "fifth") << c.what;
        std::vector<double> values(static_cast<std::size_t>(kScans * n));
        ASSERT_TRUE(reader->ReadValues(0, kScans, values)) << c.what << ": " << reader->Error();
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto k = i % static_cast<std::size_t>(n);
            const double count = static_cast<double>(s.samples[i] >> 2);
            const double want = count * s.slopes[k] + s.intercepts[k];
            EXPECT_NEAR(values[i], want, 1e-9 * std::max(1.0, std::abs(want)))
                << c.what << " value " << i;
        }
    }
}

// Crafted headers: neither reader may read outside the file, and each says
// whether it can use the file.
TEST(WdqFileReader, CraftedHeadersNeverReadOutOfBounds) {
    using Mutate = std::function<void(std::vector<uint8_t>&)>;
    const auto put32 = [](std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
        std::memcpy(b.data() + at, &v, 4);
    };
    struct Case {
        const char* what;
        Mutate mutate;
        bool coreReads;
        bool coreIncomplete;
        bool testReaderReads;
    };
    const Case cases[] = {
        {"as made", [](auto&) {}, true, false, true},
        {"entries beyond the header", [](auto& b) { b[0] = 0x28, b[4] = 255, b[5] = 255; }, false,
         false, false},
        {"31 channels", [](auto& b) { b[0] = 0x3F; }, false, false, false},
        {"no channels", [](auto& b) { b[0] = 0x20; }, false, false, false},
        {"entry too small", [](auto& b) { b[5] = 10; }, false, false, false},
        {"header size beyond the file", [](auto& b) { b[6] = 0xFF, b[7] = 0xFF; }, false, false,
         false},
        {"data size beyond the file", [&](auto& b) { put32(b, 8, 0xFFFFFFFF); }, true, true, false},
        {"data size zero with a trailer", [&](auto& b) { put32(b, 8, 0); }, true, false, true},
        {"data size zero, no trailer", [&](auto& b) { put32(b, 8, 0), put32(b, 12, 0); }, true,
         true, true},
        {"event area beyond the file", [&](auto& b) { put32(b, 12, 0xFFFFFFF0); }, true, true,
         false},
        {"annotations beyond the file", [](auto& b) { b[16] = 0xFF, b[17] = 0xFF; }, true, true,
         false},
        {"comment pointer far away", [&](auto& b) { put32(b, 1156 + 16 + 8, 0xFFFFFFF0); }, true,
         false, true},
        {"period not a number", [](auto& b) { std::memset(b.data() + 28, 0xFF, 8); }, false, false,
         true},
        {"packed file", [](auto& b) { b[101] = 0x40; }, false, false, true},
        {"garbage", [](auto& b) { std::memset(b.data(), 0xA5, b.size()); }, false, false, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = MakeWdqBytes(GoodSpec());
        c.mutate(bytes);
        const Parsed p = Parse(bytes);
        EXPECT_EQ(p.ok, c.coreReads) << c.what << ": " << p.reason;
        if (p.ok) {
            EXPECT_EQ(p.info.incomplete, c.coreIncomplete) << c.what;
        }
        std::string error;
        const std::vector<uint8_t> exact(bytes.begin(), bytes.end());
        EXPECT_EQ(test::ReadWdq(exact, error).has_value(), c.testReaderReads) << c.what << error;
    }
}

// A file cut at every interesting size reads as far as it is whole.
TEST(WdqFileReader, TruncatedFilesReadTheirWholeScans) {
    WdqBytesSpec spec = GoodSpec();
    const std::vector<uint8_t> whole = MakeWdqBytes(spec);
    spec.trailer = false;
    const std::vector<uint8_t> noTrailer = MakeWdqBytes(spec);
    struct Case {
        const char* what;
        std::size_t size;
        bool reads;
        int64_t scans;
        bool incomplete;
    };
    const Case cases[] = {
        {"empty", 0, false, 0, false},
        {"one byte", 1, false, 0, false},
        {"header - 1", 1155, false, 0, false},
        {"header", 1156, true, 0, true},
        {"header + 1", 1157, true, 0, true},
        {"mid-scan", 1156 + 4 * 2 + 2, true, 2, true},
        {"before the trailer", 1156 + 16, true, 4, true},
        {"inside the trailer", 1156 + 16 + 10, true, 4, true},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(c.size));
        const Parsed p = Parse(cut);
        EXPECT_EQ(p.ok, c.reads) << c.what << ": " << p.reason;
        if (!p.ok) continue;
        EXPECT_EQ(p.info.scanCount, c.scans) << c.what;
        EXPECT_EQ(p.info.incomplete, c.incomplete) << c.what;
        EXPECT_FALSE(p.info.notes.empty()) << c.what;
    }
    const Parsed p = Parse(noTrailer);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.info.incomplete);
    EXPECT_EQ(p.info.scanCount, 4);
    EXPECT_EQ(p.info.channels[0].Name(), "Chn0");
}

// What the recorder writes reads back sample for sample, names included.
TEST(WdqFileReader, ReadsWhatTheWriterWrote) {
    test::TempDir dir;
    const std::string path = dir.File("run.wdq");
    std::array<ChannelInfo, 3> channels{};
    // "Temp °C" is spelt with an escape that cannot swallow the "C".
    const char* names[] = {"Druck \xC2\xB5", "Temp \u00B0C", "caf\xC3\xA9"};
    for (std::size_t k = 0; k < channels.size(); ++k) {
        CopyText(channels[k].name, names[k], kNameChars);
        CopyText(channels[k].unit, k == 0 ? " \xC2\xB5V" : "degC", kUnitChars);
        channels[k].valueAt1V = 1.5 + static_cast<double>(k);
        channels[k].valueAt0V = -2.0 * static_cast<double>(k);
    }
    auto markers = std::make_unique<MarkerTable>();
    CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
    markers->markerPos[1] = 77;
    CopyText(markers->markerText[1],
             "Ventil \xC3\xB6"
             "ffnet",
             kCommentChars);
    std::vector<int16_t> samples;
    for (int i = 0; i < 300; ++i) samples.push_back(static_cast<int16_t>((i * 2654435761u) >> 16));
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file) << error;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, 100, 3, 0.001, channels, 1700000000);
    ASSERT_TRUE(file->Write(header.data(), header.size()));
    for (const int16_t s : samples) {
        uint8_t b[2];
        PutWdqSample(b, s);
        ASSERT_TRUE(file->Write(b, 2));
    }
    ASSERT_TRUE(WriteWdqTrailer(*file, *markers, 2, channels, 1700000000));
    ASSERT_TRUE(PatchWdqDataSize(*file, samples.size() * 2));
    ASSERT_TRUE(file->Close());

    auto reader = WdqFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    const RecordingInfo& info = reader->Info();
    EXPECT_FALSE(info.incomplete);
    EXPECT_TRUE(info.notes.empty());
    EXPECT_EQ(info.scanCount, 100);
    EXPECT_DOUBLE_EQ(info.period, 0.001);
    EXPECT_EQ(info.startTime, 1700000000);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(info.channels[k].Name(), names[k]);
        EXPECT_EQ(info.channels[k].Unit(), channels[k].Unit());
    }
    ASSERT_EQ(info.markers.size(), 2u);
    EXPECT_EQ(info.markers[1].scan, 77);
    EXPECT_EQ(info.markers[1].comment,
              "Ventil \xC3\xB6"
              "ffnet");
    std::vector<double> values(60);
    ASSERT_TRUE(reader->ReadValues(40, 20, values));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto written = RoundWdqSample(samples[120 + i]);
        EXPECT_NEAR(values[i], EngineeringValue(written, channels[i % 3]), 1e-9) << i;
    }
}

}  // namespace
}  // namespace tamix
