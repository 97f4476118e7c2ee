#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingRepair.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

using test::ReadBytes;

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A WinDaq file as a killed recorder leaves it: the provisional header and
// `bytes` of samples, no trailer.
std::vector<uint8_t> KilledWdq(std::size_t dataBytes) {
    std::array<ChannelInfo, 2> channels{};
    CopyText(channels[1].unit, "  mV", kUnitChars);
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, 1000, 2, 0.002, channels, 1700000000);
    std::vector<uint8_t> b(header.begin(), header.end());
    for (std::size_t i = 0; i < dataBytes; ++i) b.push_back(static_cast<uint8_t>(i * 4));
    return b;
}

TEST(RecordingRepair, KilledWinDaqFilesBecomeWhole) {
    struct Case {
        const char* what;
        std::size_t dataBytes;
        int64_t scans;
    };
    const Case cases[] = {
        {"header only", 0, 0},
        {"one byte", 1, 0},
        {"mid-scan", 4 * 10 + 3, 10},
        {"whole scans", 400, 100},
        {"all provisional data", 4000, 1000},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("run.wdq");
        const std::vector<uint8_t> killed = KilledWdq(c.dataBytes);
        WriteFile(path, killed);
        const RepairReport report = RepairRecording(path);
        ASSERT_EQ(report.outcome, RepairOutcome::Repaired) << c.what << ": " << report.error;
        EXPECT_FALSE(report.actions.empty());
        EXPECT_EQ(ReadBytes(path + ".bak"), killed) << c.what;

        std::string error;
        auto reader = OpenRecording(path, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_FALSE(reader->Info().incomplete) << c.what;
        EXPECT_EQ(reader->Info().scanCount, c.scans) << c.what;
        ASSERT_EQ(reader->Info().markers.size(), 1u);
        EXPECT_EQ(reader->Info().markers[0].comment, "Acquisition start");
        // Third-party readers see a consistent file too.
        const auto bytes = ReadBytes(path);
        const auto file = test::ReadWdq(bytes, error);
        ASSERT_TRUE(file) << c.what << ": " << error;
        EXPECT_EQ(file->ScanCount(), c.scans);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1156, bytes.begin() + 1156 + c.scans * 4),
                  std::vector<uint8_t>(killed.begin() + 1156, killed.begin() + 1156 + c.scans * 4));

        // A second run changes nothing.
        const RepairReport again = RepairRecording(path);
        EXPECT_EQ(again.outcome, RepairOutcome::NothingToRepair) << c.what;
        EXPECT_EQ(ReadBytes(path), bytes);
    }
}

TEST(RecordingRepair, KilledTextFilesBecomeClean) {
    test::TempDir dir;
    const std::string path = dir.File("run.dat");
    const std::string whole = "0.000 1 2 \r\n0.002 1.5 2.5 \r\n";
    const std::string killed = whole + "0.004 1.";
    WriteFile(path, std::vector<uint8_t>(killed.begin(), killed.end()));
    const RepairReport report = RepairRecording(path);
    ASSERT_EQ(report.outcome, RepairOutcome::Repaired) << report.error;
    EXPECT_EQ(test::ReadText(path), whole);
    EXPECT_EQ(test::ReadText(path + ".bak"), killed);
    EXPECT_EQ(test::ReadText(InfoFileName(path)),
              "Channel name: Chn0\r\nChannel name: Chn1\r\n"
              "Marker #0: Acquisition start at 0.000 sec\r\n");
    EXPECT_EQ(RepairRecording(path).outcome, RepairOutcome::NothingToRepair);
    EXPECT_EQ(test::ReadText(path), whole);
}

TEST(RecordingRepair, RefusesWhatItDoesNotKnow) {
    test::TempDir dir;
    const std::string path = dir.File("photo.wdq");
    WriteFile(path, std::vector<uint8_t>(3000, 0xA5));
    const RepairReport report = RepairRecording(path);
    EXPECT_EQ(report.outcome, RepairOutcome::Failed);
    EXPECT_NE(report.error.find(path), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));
    EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>(3000, 0xA5));

    // An earlier backup is never overwritten.
    const std::string killed = dir.File("run.wdq");
    WriteFile(killed, KilledWdq(40));
    WriteFile(killed + ".bak", {1, 2, 3});
    EXPECT_EQ(RepairRecording(killed).outcome, RepairOutcome::Failed);
    EXPECT_EQ(ReadBytes(killed + ".bak"), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace tamix
