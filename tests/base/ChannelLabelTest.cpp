// Channel labels that say which input a channel comes from: the rule, the
// 16-character cut of EDF+, and what the readers can tell of their inputs.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "base/ChannelLabel.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

TEST(ChannelLabelTest, NamesTheInputOrThePlace) {
    struct Case {
        std::string name;
        int32_t input;
        std::size_t position;
        std::size_t maxChars;
        std::string label;
    };
    const std::string mu = "\xC2\xB5";
    std::string muName;
    for (int i = 0; i < 20; ++i) muName += mu;
    std::string thirteenMu;
    for (int i = 0; i < 13; ++i) thirteenMu += mu;
    const std::vector<Case> cases = {
        {"chn", 0, 0, kWholeLabel, "1: chn"},
        {"chn", 3, 3, kWholeLabel, "4: chn"},
        {"chn", 4, 1, kWholeLabel, "A: chn"},
        {"chn", 7, 7, kWholeLabel, "D: chn"},
        {" chn  ", 1, 1, kWholeLabel, "2: chn"},
        // A name that is the input's own label is not said twice; another's is kept.
        {"A", 4, 0, kWholeLabel, "A"},
        {"b", 5, 0, kWholeLabel, "B"},
        {"1", 4, 0, kWholeLabel, "A: 1"},
        {"", 2, 0, kWholeLabel, "3"},
        {"   ", 6, 0, kWholeLabel, "C"},
        // Unknown inputs: the place among the recorded channels, counted from 1.
        {"chn", kUnknownInput, 0, kWholeLabel, "#1: chn"},
        {"chn", kUnknownInput, 2, kWholeLabel, "#3: chn"},
        {"", kUnknownInput, 9, kWholeLabel, "#10"},
        {"3", kUnknownInput, 2, kWholeLabel, "#3: 3"},
        {"chn", 8, 4, kWholeLabel, "#5: chn"},
        // Cut to the EDF+ field: the name gives way, the input stays.
        {"Blutdruck linker Arm", 4, 0, 16, "A: Blutdruck lin"},
        {"Blutdruck linker Arm", kUnknownInput, 11, 16, "#12: Blutdruck l"},
        {"Temperatur Kessel", 0, 0, 14, "1: Temperatur"},  // no blank left at the end
        {muName, 1, 0, 16, "2: " + thirteenMu},
        {"short", 0, 0, 16, "1: short"},
        {"chn", 4, 0, 3, "A"},
    };
    for (const Case& c : cases) {
        const std::string label = ChannelLabel(c.name, c.input, c.position, c.maxChars);
        EXPECT_EQ(label, c.label) << "'" << c.name << "' input " << c.input;
        if (c.maxChars != kWholeLabel) {
            EXPECT_LE(Utf8Length(label), c.maxChars) << label;
        }
    }
}

TEST(ChannelLabelTest, TitlesAddTheUnitWithoutItsPadding) {
    ChannelInfo ch;
    ch.inputNumber = 5;
    CopyText(ch.name, "chn", kNameChars);
    CopyText(ch.unit, "   V", kUnitChars);
    EXPECT_EQ(ChannelTitle(ch, 5), "B: chn [V]");
    CopyText(ch.unit, "", kUnitChars);
    EXPECT_EQ(ChannelTitle(ch, 5), "B: chn");
    ch.inputNumber = kUnknownInput;
    CopyText(ch.unit,
             "\xC2\xB0"
             "C",
             kUnitChars);
    EXPECT_EQ(ChannelTitle(ch, 1),
              "#2: chn [\xC2\xB0"
              "C]");
}

// Files store the order of their channels, not their inputs: only a recording
// of all eight inputs tells them (a run records its inputs in ascending order).
TEST(ChannelLabelTest, ReadersTellTheInputsOfEightChannelsOnly) {
    test::TempDir dir;
    for (const std::size_t n : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{8}}) {
        std::vector<ChannelInfo> channels(n);
        for (ChannelInfo& ch : channels) CopyText(ch.name, "chn", kNameChars);
        const std::string wdq = dir.File("run" + std::to_string(n) + ".wdq");
        const std::string dat = dir.File("run" + std::to_string(n) + ".dat");
        std::string error;
        auto markers = std::make_unique<MarkerTable>();
        CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
        {
            auto file = DefaultFileOpener().Create(wdq, error);
            ASSERT_TRUE(file) << error;
            std::array<uint8_t, kWdqHeaderBytes> header{};
            BuildWdqHeader(header, 2, static_cast<int>(n), 0.002, channels, 1700000000);
            const std::vector<uint8_t> data(4 * n, 0);
            ASSERT_TRUE(file->Write(header.data(), header.size()) &&
                        file->Write(data.data(), data.size()) &&
                        WriteWdqTrailer(*file, *markers, 1, channels, 1700000000) &&
                        PatchWdqDataSize(*file, data.size()) && file->Close());
        }
        {
            auto file = DefaultFileOpener().Create(dat, error);
            auto info = DefaultFileOpener().Create(InfoFileName(dat), error);
            ASSERT_TRUE(file && info) << error;
            char line[kMaxTextLine];
            const std::vector<int16_t> zeros(n, 0);
            for (int64_t s = 0; s < 2; ++s) {
                ASSERT_TRUE(file->Write(line, FormatTextLine(line, s, 0.002, zeros, channels)));
            }
            ASSERT_TRUE(file->Close() && WriteInfoFile(*info, channels, *markers, 1, 0.002) &&
                        info->Close());
        }
        for (const std::string& path : {wdq, dat}) {
            auto reader = OpenRecording(path, error);
            ASSERT_TRUE(reader) << error;
            const std::vector<ChannelInfo>& read = reader->Info().channels;
            ASSERT_EQ(read.size(), n);
            const std::string first = n == 8 ? "1: chn" : "#1: chn";
            const std::string last = n == 8 ? "D: chn" : "#" + std::to_string(n) + ": chn";
            EXPECT_EQ(ChannelLabel(read.front(), 0), first) << path;
            EXPECT_EQ(ChannelLabel(read.back(), n - 1), last) << path;
        }
    }
}

}  // namespace
}  // namespace tamix
