#include "recording/MarkerJournal.h"
#include "recording/MarkerJournalReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "../support/AllocationCounter.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/Utf8Text.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingRepair.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

constexpr int64_t kCreated = 1'700'000'000;

std::array<ChannelInfo, 2> Channels() {
    std::array<ChannelInfo, 2> channels{};
    CopyText(channels[0].name, "Druck", kNameChars);
    CopyText(channels[1].name, "back\\slash", kNameChars);
    return channels;
}

std::unique_ptr<MarkerTable> Markers(const std::vector<std::pair<int64_t, std::string>>& entries,
                                     int64_t wallTime = 0) {
    auto table = std::make_unique<MarkerTable>();
    for (std::size_t m = 0; m < entries.size(); ++m) {
        table->markerPos[m] = entries[m].first;
        CopyText(table->markerText[m], entries[m].second, kCommentChars);
        table->markerWallTime[m] = m == 0 ? 0 : wallTime;
    }
    table->markerCount.store(static_cast<int>(entries.size()));
    return table;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(MarkerJournal, KeepsEveryCommentAndNameAsWrittenAndLeavesOutACutLine) {
    test::TempDir dir;
    const auto channels = Channels();
    MarkerJournal journal(dir.File("run.wdq"), channels, 0.002, kCreated);
    const auto markers = Markers({{0, "Acquisition start"},
                                  {120, "two\nlines and a\r return"},
                                  {121, "C:\\data\\n1 ÄÖÜ µV"},
                                  {5000, "last"}},
                                 kCreated + 9);
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 2)) << journal.Error();
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 2)) << "nothing new, nothing written";
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 4)) << journal.Error();
    journal.Keep();
    EXPECT_EQ(journal.Path(), dir.File("run.wdq.markers"));

    JournalContents read;
    std::string reason;
    ASSERT_EQ(ReadMarkerJournal(journal.Path(), read, reason), JournalFound::Read) << reason;
    EXPECT_EQ(read.channelCount, 2);
    EXPECT_EQ(read.period, 0.002);
    EXPECT_EQ(read.creationTime, kCreated);
    EXPECT_EQ(read.channelNames, (std::vector<std::string>{"Druck", "back\\slash"}));
    ASSERT_EQ(read.markers.size(), 4u);
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(read.markers[m].position, markers->markerPos[m]);
        EXPECT_EQ(read.markers[m].wallTime, markers->markerWallTime[m]);
        EXPECT_EQ(read.markers[m].comment, markers->Text(m));
    }

    // A crash while the last line was being written leaves it out, and only it.
    const std::string whole = test::ReadText(journal.Path());
    for (const std::size_t cut : {std::size_t{1}, std::size_t{3}}) {
        WriteBytes(journal.Path(), whole.substr(0, whole.size() - cut));
        read = {};
        ASSERT_EQ(ReadMarkerJournal(journal.Path(), read, reason), JournalFound::Read) << reason;
        ASSERT_EQ(read.markers.size(), 3u) << cut;
        EXPECT_EQ(read.markers[2].comment, markers->Text(2));
    }
    WriteBytes(journal.Path(), "not a journal\n");
    EXPECT_EQ(ReadMarkerJournal(journal.Path(), read, reason), JournalFound::Unreadable);
    EXPECT_EQ(ReadMarkerJournal(dir.File("none.markers"), read, reason), JournalFound::None);
}

TEST(MarkerJournal, AppendingAllocatesNothingAfterTheFirstCall) {
    if (!test::AllocationCountingAvailable()) GTEST_SKIP() << "sanitizer build";
    test::TempDir dir;
    const auto channels = Channels();
    MarkerJournal journal(dir.File("run.dat"), channels, 0.001, kCreated);
    const auto markers = Markers({{0, "Acquisition start"}, {10, "a"}, {20, "b"}, {30, "c"}});
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 1));
    test::StartCountingAllocations();
    std::thread worker([&] {
        for (int count = 1; count <= 4; ++count)
            journal.Append(DefaultFileOpener(), *markers, count);
    });
    worker.join();
    EXPECT_EQ(test::StopCountingAllocations(), 0);
    EXPECT_FALSE(journal.Failed()) << journal.Error();
}

TEST(MarkerJournal, ARunRemovesOnlyAJournalItHasBegun) {
    test::TempDir dir;
    const auto channels = Channels();
    const std::string earlier = MarkerJournalName(dir.File("run.wdq"));
    WriteBytes(earlier, "tamix-markers 1 channels=2 period=0.002 created=1\n");
    {
        // A run that ends before its first checkpoint: the journal there is
        // still the earlier recording's.
        MarkerJournal journal(dir.File("run.wdq"), channels, 0.002, kCreated);
        EXPECT_TRUE(journal.Remove());
        EXPECT_TRUE(std::filesystem::exists(earlier));
    }
    MarkerJournal journal(dir.File("run.wdq"), channels, 0.002, kCreated);
    const auto markers = Markers({{0, "Acquisition start"}});
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 1));
    JournalContents read;
    std::string reason;
    ASSERT_EQ(ReadMarkerJournal(earlier, read, reason), JournalFound::Read);
    EXPECT_EQ(read.creationTime, kCreated) << "the earlier journal was emptied";
    EXPECT_TRUE(journal.Remove());
    EXPECT_FALSE(std::filesystem::exists(earlier));
}

TEST(MarkerJournal, BelongsOnlyToTheRecordingOfItsRun) {
    JournalContents journal;
    journal.channelCount = 2;
    journal.creationTime = kCreated;
    struct Case {
        const char* what;
        RecordingFormat format;
        std::size_t channels;
        int64_t startTime;
        int64_t scans;
        bool belongs;
    };
    const Case cases[] = {
        {"WinDaq of the run", RecordingFormat::WinDaq, 2, kCreated, 1000, true},
        {"WinDaq made a second later", RecordingFormat::WinDaq, 2, kCreated + 1, 1000, false},
        {"WinDaq of other channels", RecordingFormat::WinDaq, 3, kCreated, 1000, false},
        {"text, start estimated a second late", RecordingFormat::Text, 2, kCreated + 1, 1000, true},
        {"text, after an hour's pause", RecordingFormat::Text, 2, kCreated + 3600, 1000, true},
        {"text, start estimated 2 s early", RecordingFormat::Text, 2, kCreated - 2, 1000, true},
        {"text begun before the journal's run", RecordingFormat::Text, 2, kCreated - 60, 1000,
         false},
        // A day's recording of a unit whose clock runs 500 ppm fast.
        {"text of a day", RecordingFormat::Text, 2, kCreated - 43, 43'200'000, true},
        {"text, start unknown", RecordingFormat::Text, 2, 0, 1, true},
        {"text of other channels", RecordingFormat::Text, 1, kCreated, 1000, false},
    };
    for (const Case& c : cases) {
        RecordingInfo info;
        info.format = c.format;
        info.channels.resize(c.channels);
        info.startTime = c.startTime;
        info.scanCount = c.scans;
        info.period = 0.002;
        EXPECT_EQ(JournalBelongsTo(journal, info), c.belongs) << c.what;
    }
}

// A WinDaq file as a killed recorder leaves it (header, scans, no trailer)
// with the journal of its run.
void KilledWithJournal(const std::string& path, int64_t scans, int64_t creation) {
    const auto channels = Channels();
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, 1000, 2, 0.002, channels, creation);
    std::string bytes(header.begin(), header.end());
    bytes.append(static_cast<std::size_t>(scans) * 4, '\x10');
    WriteBytes(path, bytes);
    MarkerJournal journal(path, channels, 0.002, kCreated);
    // A marker set before the first scan carries its time instead of a scan.
    const auto markers =
        Markers({{0, "Acquisition start"}, {0, "set up"}, {37, "Ventil zu"}}, kCreated + 7);
    ASSERT_TRUE(journal.Append(DefaultFileOpener(), *markers, 3));
    journal.Keep();
}

TEST(MarkerJournal, RepairPutsTheJournalIntoTheTrailerAsTheReaderShowedIt) {
    test::TempDir dir;
    const std::string path = dir.File("run.wdq");
    KilledWithJournal(path, 100, kCreated);
    std::string error;
    auto before = OpenRecording(path, error);
    ASSERT_TRUE(before) << error;
    EXPECT_TRUE(before->Info().incomplete);
    EXPECT_EQ(before->Info().markerJournal, MarkerJournalName(path));
    const RecordingInfo shown = before->Info();
    before.reset();

    const RepairReport report = RepairRecording(path);
    ASSERT_EQ(report.outcome, RepairOutcome::Repaired) << report.error;
    EXPECT_FALSE(std::filesystem::exists(MarkerJournalName(path)));
    const auto bytes = test::ReadBytes(path);
    const auto f = test::ReadWdq(bytes, error);
    ASSERT_TRUE(f) << error;
    ASSERT_EQ(f->markers.size(), 3u);
    EXPECT_EQ(f->markers[1].scan, 0);
    EXPECT_EQ(f->markers[1].timeStamp, 7u) << "seconds since the file was made";
    EXPECT_EQ(f->markers[1].comment, "set up");
    EXPECT_EQ(f->markers[2].scan, 37);
    EXPECT_EQ(f->markers[2].comment, "Ventil zu");
    EXPECT_EQ(f->channels[1].name, "back\\slash");

    const auto after = OpenRecording(path, error);
    ASSERT_TRUE(after) << error;
    EXPECT_FALSE(after->Info().incomplete);
    ASSERT_EQ(after->Info().markers.size(), shown.markers.size());
    for (std::size_t m = 0; m < shown.markers.size(); ++m) {
        EXPECT_EQ(after->Info().markers[m].scan, shown.markers[m].scan) << m;
        EXPECT_EQ(after->Info().markers[m].timeStamp, shown.markers[m].timeStamp) << m;
        EXPECT_EQ(after->Info().markers[m].comment, shown.markers[m].comment) << m;
    }
    EXPECT_EQ(RepairRecording(path).outcome, RepairOutcome::NothingToRepair);
    EXPECT_EQ(test::ReadBytes(path), bytes);
}

TEST(MarkerJournal, AJournalOfAnotherRecordingIsLeftOutAndLeftAlone) {
    test::TempDir dir;
    const std::string path = dir.File("run.wdq");
    KilledWithJournal(path, 100, kCreated + 60);
    std::string error;
    {
        // Closed before the repair, which Wine cannot rename over an open file.
        const auto reader = OpenRecording(path, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_TRUE(reader->Info().markers.empty());
        EXPECT_TRUE(reader->Info().markerJournal.empty());
        bool noted = false;
        for (const std::string& note : reader->Info().notes) {
            noted = noted || note.find("belongs to another recording") != std::string::npos;
        }
        EXPECT_TRUE(noted);
    }
    const RepairReport report = RepairRecording(path);
    ASSERT_EQ(report.outcome, RepairOutcome::Repaired) << report.error;
    EXPECT_TRUE(std::filesystem::exists(MarkerJournalName(path)));
    const auto repaired = OpenRecording(path, error);
    ASSERT_EQ(repaired->Info().markers.size(), 1u);
    EXPECT_EQ(repaired->Info().markers[0].comment, "Acquisition start");
}

}  // namespace
}  // namespace tamix
