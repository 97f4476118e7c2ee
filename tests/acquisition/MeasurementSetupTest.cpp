#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace tamix
