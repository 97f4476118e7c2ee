// A split recording's files, written through the chain sink as the worker
// drives it: every scan in exactly one file and in order, each file whole
// with its own markers, and the follow-on files marked where they continue.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/Utf8Text.h"
#include "recording/ChainNames.h"
#include "recording/ChainSink.h"
#include "recording/MarkerJournal.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

constexpr double kPeriod = 0.001;

// Each scan's samples tell its index in the run: no two scans within 8000 alike.
int16_t SampleOf(int64_t scan, int channel) {
    const auto v = static_cast<int16_t>((scan % 8000) * 4 - 16000);
    return channel == 0 ? v : static_cast<int16_t>(-v);
}

void Publish(MarkerTable& table, int64_t scan, const std::string& text) {
    const int m = table.markerCount.load();
    table.markerPos[m] = scan;
    CopyText(table.markerText[m], text, kCommentChars);
    table.markerWallTime[m] = 1700000000;
    table.reserved = m + 1;
    table.markerCount.store(m + 1);
}

struct Later {
    int64_t at;
    int64_t when;
    std::string text;
};

struct Chain {
    test::TempDir dir;
    std::array<ChannelInfo, 2> channels{};
    std::array<uint8_t, kWdqHeaderBytes> header{};
    std::unique_ptr<MarkerTable> run = std::make_unique<MarkerTable>();

    // Writes `scans` scans in files of `share`, a checkpoint every 1000
    // scans; each marker is published as the scan `when` is written.
    void Record(FileType type, int64_t scans, int64_t share, const std::vector<Later>& later) {
        for (int k = 0; k < 2; ++k) {
            channels[k].inputNumber = k;
            CopyText(channels[k].name, "in" + std::to_string(k), kNameChars);
            CopyText(channels[k].unit, "Volt", kUnitChars);
        }
        CopyText(run->markerText[0], "Acquisition start", kCommentChars);
        ChainSettings s;
        s.first.type = type;
        s.first.fileName = dir.File(type == FileType::Text ? "run.dat" : "run.wdq");
        s.first.channels = channels;
        s.first.period = kPeriod;
        s.first.headerScans = scans + 8;
        s.first.creationTime = 1700000000;
        s.fileScans = share;
        s.runScans = scans;
        ChainSink sink(s, DefaultFileOpener(), header);
        ASSERT_TRUE(sink.Prepare(*run));
        ASSERT_TRUE(sink.Open());
        ASSERT_TRUE(sink.Begin(*run));
        std::array<int16_t, 2> scan{};
        for (int64_t i = 0; i < scans; ++i) {
            for (const Later& m : later) {
                if (m.when == i) Publish(*run, m.at, m.text);
            }
            scan = {SampleOf(i, 0), SampleOf(i, 1)};
            ASSERT_TRUE(sink.WriteScan(i, scan));
            if ((i + 1) % 1000 == 0) {
                ASSERT_TRUE(sink.Checkpoint());
                ASSERT_TRUE(sink.TakePlace());
            }
        }
        EXPECT_EQ(sink.Finish(*run, run->markerCount.load()), SinkEnd::Ok) << sink.Error();
        EXPECT_EQ(sink.ScansKept(), scans);
        EXPECT_EQ(sink.Files(), (scans + share - 1) / share);
    }
};

struct Expected {
    std::string comment;
    int64_t scan;
};

TEST(ChainNamesTest, FollowOnFilesAreNumberedBeforeTheirExtension) {
    const struct {
        std::string target;
        FileType type;
        int64_t position;
        std::string name;
    } cases[] = {
        {"d/run.wdq", FileType::WinDaq, 1, "d/run.wdq"},
        {"d/run.wdq", FileType::WinDaq, 2, "d/run-0002.wdq"},
        {"d/run.wdq", FileType::WinDaq, 9999, "d/run-9999.wdq"},
        {"d/run.wdq", FileType::WinDaq, 10000, "d/run-10000.wdq"},
        {"a.b/run.dat", FileType::Text, 3, "a.b/run-0003.dat"},
        // Before the ".dat" the info file's name is cut at: each file has its own.
        {"x.dat.old", FileType::Text, 2, "x-0002.dat.old"},
        {"noext", FileType::WinDaq, 2, "noext-0002"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChainFileName(c.target, c.type, c.position), c.name) << c.target;
    }
    EXPECT_NE(InfoFileName(ChainFileName("x.dat.old", FileType::Text, 2)),
              InfoFileName("x.dat.old"));
    EXPECT_EQ(ContinuedFromText("d/run-0002.wdq", 5000),
              "Continued from run-0002.wdq at scan 5000");
}

TEST(ChainSinkTest, WinDaqFilesHoldEveryScanOnceWithTheirOwnMarkers) {
    Chain c;
    // 2499 is the first file's last scan and 2500 the second's first; the
    // marker at 5000 is published before its file begins, the one at 2450
    // after the switch from its file, and the marker at 7600 after 5000's
    // (later markers wait for an earlier one whose file is not begun).
    Publish(*c.run, 10, "early");
    c.Record(FileType::WinDaq, 9000, 2500,
             {{2499, 2499, "last of one"},
              {2500, 2500, "first of two"},
              {5000, 3500, "ahead"},
              {2450, 3600, "late gap"},
              {7600, 7700, "four"}});
    const std::vector<std::vector<Expected>> want = {
        {{"Acquisition start", 0}, {"early", 10}, {"last of one", 2499}, {"late gap", 2450}},
        {{"Continued from run.wdq at scan 2500", 0}, {"first of two", 0}},
        {{"Continued from run-0002.wdq at scan 5000", 0}, {"ahead", 0}},
        {{"Continued from run-0003.wdq at scan 7500", 0}, {"four", 100}},
    };
    const int64_t counts[] = {2500, 2500, 2500, 1500};
    int64_t next = 0;
    for (int k = 0; k < 4; ++k) {
        const std::string name = ChainFileName(c.dir.File("run.wdq"), FileType::WinDaq, k + 1);
        std::string error;
        const auto f = test::ReadWdq(test::ReadBytes(name), error);
        ASSERT_TRUE(f) << name << ": " << error;
        EXPECT_FALSE(std::filesystem::exists(MarkerJournalName(name))) << name;
        ASSERT_EQ(f->ScanCount(), counts[k]) << name;
        for (int64_t i = 0; i < f->ScanCount(); ++i, ++next) {
            ASSERT_EQ(f->samples[2 * i], SampleOf(next, 0)) << name << " scan " << i;
            ASSERT_EQ(f->samples[2 * i + 1], SampleOf(next, 1)) << name << " scan " << i;
        }
        ASSERT_EQ(f->markers.size(), want[k].size()) << name;
        for (std::size_t m = 0; m < want[k].size(); ++m) {
            EXPECT_EQ(f->markers[m].comment, want[k][m].comment) << name;
            EXPECT_EQ(f->markers[m].scan, want[k][m].scan) << name << " " << want[k][m].comment;
        }
        EXPECT_EQ(f->channels[1].name, "in1");
    }
    EXPECT_FALSE(std::filesystem::exists(c.dir.File("run-0005.wdq")));
}

TEST(ChainSinkTest, TextFilesEachHaveTheirInfoFileAndTimesFromTheirOwnStart) {
    Chain c;
    c.Record(FileType::Text, 5000, 2000, {{2100, 2600, "in two"}});
    const std::string names[] = {"run.dat", "run-0002.dat", "run-0003.dat"};
    const int64_t counts[] = {2000, 2000, 1000};
    const std::string markers[] = {
        "Marker #0: Acquisition start at 0.000 sec",
        "Marker #0: Continued from run.dat at scan 2000 at 0.000 sec\r\n"
        "Marker #1: in two at 0.100 sec",
        "Marker #0: Continued from run-0002.dat at scan 4000 at 0.000 sec"};
    for (int k = 0; k < 3; ++k) {
        const std::string data = test::ReadText(c.dir.File(names[k]));
        EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), counts[k]) << names[k];
        EXPECT_TRUE(data.starts_with("0.000 ")) << names[k];
        const std::string info = test::ReadText(InfoFileName(c.dir.File(names[k])));
        EXPECT_NE(info.find("Channel name: in1\r\n" + markers[k] + "\r\n"), std::string::npos)
            << names[k] << ":\n"
            << info;
    }
}

}  // namespace
}  // namespace tamix
