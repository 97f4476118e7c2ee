#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "../support/TempDir.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
#include "recording/OutputFile.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A text recording as the recorder writes it: `scans` lines of two channels.
class TextRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        CopyText(channels[0].name, "Druck \xC2\xB5", kNameChars);
        CopyText(channels[1].name, "Temp", kNameChars);
        channels[1].valueAt1V = 100;
        channels[1].valueAt0V = -5;
        char line[kMaxTextLine];
        for (int64_t c = 0; c < 3000; ++c) {
            const std::array<int16_t, 2> s = {static_cast<int16_t>(c * 7 - 9000),
                                              static_cast<int16_t>(20000 - c * 11)};
            samples.push_back(s);
            text.append(line, FormatTextLine(line, c, 0.002, s, channels));
        }
        markers->markerPos[1] = 1234;
        CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
        CopyText(markers->markerText[1], "Marker at the end", kCommentChars);
        std::string error;
        auto info = DefaultFileOpener().Create(InfoFileName(path), error);
        ASSERT_TRUE(info && WriteInfoFile(*info, channels, *markers, 2, 0.002) && info->Close());
    }

    test::TempDir dir;
    std::string path = dir.File("run.dat");
    std::array<ChannelInfo, 2> channels{};
    std::unique_ptr<MarkerTable> markers = std::make_unique<MarkerTable>();
    std::vector<std::array<int16_t, 2>> samples;
    std::string text;
};

TEST_F(TextRecording, ReadsLinesNamesAndMarkers) {
    WriteFile(path, text);
    std::string error;
    auto reader = TextFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    const RecordingInfo& info = reader->Info();
    EXPECT_FALSE(info.incomplete);
    EXPECT_EQ(info.scanCount, 3000);
    EXPECT_DOUBLE_EQ(info.period, 0.002);
    EXPECT_EQ(info.channels[0].Name(), "Druck \xC2\xB5");
    ASSERT_EQ(info.markers.size(), 2u);
    EXPECT_EQ(info.markers[1].scan, 1234);
    EXPECT_EQ(info.markers[1].comment, "Marker at the end");
    // Random access across index entries, against the values written.
    for (const int64_t first : {int64_t{0}, int64_t{1023}, int64_t{1024}, int64_t{2990}}) {
        std::vector<double> values(20);
        ASSERT_TRUE(reader->ReadValues(first, 10, values)) << reader->Error();
        for (int64_t i = 0; i < 10; ++i) {
            for (std::size_t k = 0; k < 2; ++k) {
                const double v =
                    EngineeringValue(samples[static_cast<std::size_t>(first + i)][k], channels[k]);
                EXPECT_NEAR(values[static_cast<std::size_t>(i) * 2 + k], v,
                            std::abs(v) * 5e-4 + 1e-12)
                    << first + i;
            }
        }
    }
    std::vector<double> values(4);
    EXPECT_FALSE(reader->ReadValues(2999, 2, values));
}

TEST_F(TextRecording, CutShortOrForeignFiles) {
    struct Case {
        const char* what;
        std::string bytes;
        bool reads;
        int64_t scans;
        bool incomplete;
    };
    const Case cases[] = {
        {"whole", text, true, 3000, false},
        {"partial last line", text.substr(0, text.size() - 5), true, 2999, true},
        {"one partial line", text.substr(0, 12), false, 0, false},
        {"empty", "", false, 0, false},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0", 10), false, 0, false},
        {"words", "hello world\r\n", false, 0, false},
        {"too many columns", "0.000 1 2 3 4 5 6 7 8 9 \r\n", false, 0, false},
        {"last line short", text + "6.000 1 \r\n", false, 0, false},
    };
    for (const Case& c : cases) {
        WriteFile(path, c.bytes);
        std::string error;
        auto reader = TextFileReader::Open(path, error);
        EXPECT_EQ(reader != nullptr, c.reads) << c.what << ": " << error;
        if (!reader) {
            EXPECT_NE(error.find(path), std::string::npos) << c.what;
            continue;
        }
        EXPECT_EQ(reader->Info().scanCount, c.scans) << c.what;
        EXPECT_EQ(reader->Info().incomplete, c.incomplete) << c.what;
    }
}

TEST_F(TextRecording, MissingInfoFileIsReported) {
    WriteFile(path, text);
    std::remove(InfoFileName(path).c_str());
    std::string error;
    auto reader = TextFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_TRUE(reader->Info().incomplete);
    EXPECT_FALSE(reader->HasInfoFile());
    EXPECT_EQ(reader->Info().channels[1].Name(), "Chn1");
}

TEST(TextLine, ParsesInAnyLocale) {
    std::array<double, 4> v{};
    EXPECT_EQ(ParseTextLine("0.002 1.234e+004 -2.5 \r\n", v), 3);
    EXPECT_DOUBLE_EQ(v[1], 12340);
    EXPECT_EQ(ParseTextLine("0,002 1 \r\n", v), -1);
    EXPECT_EQ(ParseTextLine("0.002 1 2 3 4 \r\n", v), -1);
}

}  // namespace
}  // namespace tamix
