#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "acquisition/MeasurementSetup.h"

namespace tamix {
namespace {

class MeasurementSetupTest : public ::testing::Test {
  protected:
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

TEST_F(MeasurementSetupTest, StartsWithTheDefaults) {
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
    EXPECT_EQ(setup->saveToFile, SaveMode::ScreenOnly);
    EXPECT_EQ(setup->totalTime, 10.0);
    EXPECT_EQ(setup->fileType, FileType::WinDaq);
    EXPECT_EQ(setup->freqIndex, 2);
    EXPECT_EQ(setup->channelCount, 8);
    EXPECT_EQ(setup->OutputFileName(), "");
    EXPECT_EQ(setup->commPort, 1);
    EXPECT_EQ(setup->eightChannels, 0);
    for (int i = 0; i < 8; ++i) {
        const ChannelInfo& ch = setup->channels[i];
        EXPECT_EQ(ch.inputNumber, i);
        EXPECT_EQ(ch.Name(), "Chn" + std::to_string(i));
        EXPECT_EQ(ch.Unit(), "Volt");
        EXPECT_EQ(ch.valueAt1V, 1.0);
        EXPECT_EQ(ch.valueAt0V, 0.0);
    }
}

TEST_F(MeasurementSetupTest, MarkerResetKeepsOnlyTheStartMarkerValid) {
    setup->AddMarker(5000, "first", 0);
    setup->ResetMarkers();
    EXPECT_EQ(setup->markers.markerCount, 1);
    EXPECT_EQ(setup->markers.markerPos[0], 0);
    EXPECT_EQ(setup->markers.Text(0), "Acquisition start");
    EXPECT_EQ(setup->markers.markerPos[1], 110);
    EXPECT_EQ(setup->markers.Text(1), "Marker1");
    EXPECT_EQ(setup->markers.markerPos[199], 19910);
    EXPECT_EQ(setup->markers.Text(199), "Marker199");
}

TEST_F(MeasurementSetupTest, TheTableStopsAtTwoHundredMarkers) {
    for (int i = 1; i < 199; ++i) ASSERT_TRUE(setup->AddMarker(i * 10, "m", 0));
    EXPECT_TRUE(setup->AddMarker(5000, "the 200th", 0));
    EXPECT_EQ(setup->markers.markerCount, 200);
    EXPECT_FALSE(setup->AddMarker(6000, "one too many", 0));
    EXPECT_EQ(setup->markers.markerCount, 200);
    EXPECT_EQ(setup->markers.Text(199), "the 200th");
}

TEST_F(MeasurementSetupTest, MarkerCommentsAreCutAtEightyCharactersNotInsideOne) {
    std::string comment;
    for (int i = 0; i < 85; ++i) comment += "\xC3\xA9";  // é
    setup->AddMarker(10, comment, 0);
    const std::string_view stored = setup->markers.Text(1);
    EXPECT_EQ(stored.size(), 160u);
    EXPECT_EQ(stored, comment.substr(0, 160));
}

TEST_F(MeasurementSetupTest, CommPortIsClampedToOneToEight) {
    struct Case {
        int index;
        int stored;
    };
    for (const Case c :
         {Case{0, 1}, Case{3, 4}, Case{7, 8}, Case{8, 1}, Case{-1, 1}, Case{-5, 1}, Case{12, 1}}) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(setup->SetCommPort(c.index), c.stored - 1);
        EXPECT_EQ(setup->commPort, c.stored);
        EXPECT_EQ(setup->GetCommPort(), c.stored - 1);
    }
}

TEST_F(MeasurementSetupTest, EightChannelsFlagIsZeroOrOne) {
    EXPECT_EQ(setup->SetEightChannels(5), 1);
    EXPECT_EQ(setup->GetEightChannels(), 1);
    EXPECT_EQ(setup->SetEightChannels(0), 0);
    EXPECT_EQ(setup->GetEightChannels(), 0);
}

TEST_F(MeasurementSetupTest, StatusChangesOnlyFromTheExpectedState) {
    setup->SetStatus(RunStatus::Running);
    EXPECT_FALSE(setup->ChangeStatus(RunStatus::Paused, RunStatus::Running));
    EXPECT_TRUE(setup->ChangeStatus(RunStatus::Running, RunStatus::Paused));
    EXPECT_EQ(setup->Status(), RunStatus::Paused);
    EXPECT_EQ(static_cast<int>(RunStatus::Starting), -1);
    EXPECT_EQ(static_cast<int>(RunStatus::StopRequested), 4);
}

TEST_F(MeasurementSetupTest, ClearedOutputFileNameReadsEmpty) {
    setup->SetOutputFileName("/tmp/run1.wdq");
    EXPECT_EQ(setup->OutputFileName(), "/tmp/run1.wdq");
    setup->ClearOutputFileName();
    EXPECT_EQ(setup->OutputFileName(), "");
}

// What one writer puts into its i-th marker: position, comment and time all
// follow from (writer, i), so a reader can tell a filled entry from a stale one.
struct StressMarker {
    static constexpr int kPerWriter = (kMaxMarkers - 1) / 2;
    static int64_t Position(int writer, int i) { return 1'000'003 * (writer + 1) + 7 * i; }
    static int WriterOf(int64_t position) { return position >= Position(1, 0) ? 1 : 0; }
    static std::string Comment(int64_t position) {
        // Long enough that filling it takes the writer a while.
        return "marker at scan " + std::to_string(position) + std::string(50, 'x');
    }
    static bool Filled(const MarkerTable& t, int m) {
        const int64_t pos = t.markerPos[m];
        const int64_t i = (pos - Position(WriterOf(pos), 0)) / 7;
        return pos >= Position(0, 0) && i < kPerWriter &&
               pos == Position(WriterOf(pos), static_cast<int>(i)) && t.Text(m) == Comment(pos) &&
               t.markerWallTime[m] == pos;
    }
};

// The user interface (Add Marker, Pause) and the worker (gaps) add markers at
// the same time, while they and a third thread read the entries below the
// published count: each entry a reader can see must already hold its position,
// comment and time. A count raised before its entry is filled, or one writer
// publishing past the other's unfinished entry, shows an entry still holding
// its placeholder; a count published without release order is a data race
// under ThreadSanitizer.
TEST_F(MeasurementSetupTest, TwoWritersPublishOnlyFilledMarkerEntries) {
    constexpr int kRounds = 400;
    constexpr int kAdded = 2 * StressMarker::kPerWriter;
    std::atomic<int> stale{0};
    const MarkerTable& table = setup->markers;
    // Checks the entries from `checked` up to the published count; false once
    // a stale one was seen.
    const auto readVisible = [&](int round, int& checked) {
        const int count = table.markerCount.load(std::memory_order_acquire);
        for (; checked < count; ++checked) {
            if (!StressMarker::Filled(table, checked)) {
                ADD_FAILURE() << "round " << round << ": entry " << checked << " of " << count
                              << " was published before it was filled";
                stale.fetch_add(1);
            }
        }
        return count;
    };
    for (int round = 0; round < kRounds && stale.load() == 0; ++round) {
        setup->ResetMarkers();
        std::atomic<int> ready{0};
        std::atomic<int> finished{0};
        const auto writer = [&](int w) {
            ready.fetch_add(1);
            while (ready.load() < 3) std::this_thread::yield();
            int checked = 1;
            for (int i = 0; i < StressMarker::kPerWriter; ++i) {
                const int64_t pos = StressMarker::Position(w, i);
                EXPECT_TRUE(setup->AddMarker(pos, StressMarker::Comment(pos), pos));
                // Right after its own publication the other writer may be
                // mid-entry: the moment a wrong order would show.
                readVisible(round, checked);
            }
            finished.fetch_add(1);
        };
        std::thread first(writer, 0);
        std::thread second(writer, 1);
        ready.fetch_add(1);
        while (ready.load() < 3) std::this_thread::yield();
        int checked = 1;
        while (finished.load() < 2) {
            if (readVisible(round, checked) < checked + 1) std::this_thread::yield();
        }
        first.join();
        second.join();
        readVisible(round, checked);
        ASSERT_EQ(table.markerCount.load(), 1 + kAdded);
        // Each writer's markers are in the table in the order it added them.
        int64_t last[2] = {-1, -1};
        for (int m = 1; m < 1 + kAdded; ++m) {
            const int64_t pos = table.markerPos[m];
            EXPECT_GT(pos, last[StressMarker::WriterOf(pos)]) << "entry " << m;
            last[StressMarker::WriterOf(pos)] = pos;
        }
        EXPECT_EQ(last[0], StressMarker::Position(0, StressMarker::kPerWriter - 1));
        EXPECT_EQ(last[1], StressMarker::Position(1, StressMarker::kPerWriter - 1));
    }
}

}  // namespace
}  // namespace tamix
