#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <thread>

#include "../support/SystemReasons.h"
#include "../support/TempDir.h"
#include "base/Messages.h"
#include "control/MeasurementControl.h"
#include "device/SimulatedDriver.h"

namespace tamix {
namespace {

using namespace std::chrono_literals;

// Answers questions from a script and keeps every message shown.
class ScriptedInterface final : public UserInterface {
  public:
    void ShowMessage(std::string_view text, Icon) override { shown.emplace_back(text); }
    bool AskYesNo(std::string_view question) override {
        asked.emplace_back(question);
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
    std::deque<bool> answers;
    std::vector<std::string> shown;
    std::vector<std::string> asked;
};

class ControlTest : public ::testing::Test {
  protected:
    void Attach(std::vector<SimulatedUnitOptions> units) {
        driver = std::make_unique<SimulatedDriver>(std::move(units), 1.0);
        setup->link.SetDriver(driver.get());
    }
    static SimulatedUnitOptions Unit(bool paced = true) {
        SimulatedUnitOptions o;
        o.paced = paced;
        return o;
    }
    void Choose(const std::string& file, int channels = 1, double seconds = 60) {
        setup->channelCount = channels;
        setup->totalTime = seconds;
        setup->fileType = FileType::WinDaq;
        setup->saveToFile = file.empty() ? SaveMode::ScreenOnly : SaveMode::ToFile;
        setup->SetOutputFileName(file);
    }
    StartOutcome Start() { return StartMeasurement(*setup, worker, DefaultFileOpener(), ui); }
    void StopAndWait() {
        setup->RequestStop();
        worker.Join();
    }
    void WaitForScans(int64_t scans) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (setup->scanCount < scans && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
    }

    test::TempDir dir;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
    std::unique_ptr<SimulatedDriver> driver;
    ScriptedInterface ui;
    WorkerThread worker;
};

TEST_F(ControlTest, AStartThatFailsOrIsRefusedLeavesAnExistingFileAsItWas) {
    const std::string existing = dir.File("keep.wdq");
    std::ofstream(existing) << "precious";
    struct Case {
        const char* what;
        bool unitAttached;
        bool overwrite;
        StartOutcome outcome;
        std::vector<std::string> shown;
    };
    const std::string noUnit(text::kNoUnit);
    for (const Case& c : {Case{"declined", true, false, StartOutcome::Declined, {}},
                          Case{"no unit", false, true, StartOutcome::NoUnit, {noUnit}}}) {
        SCOPED_TRACE(c.what);
        Attach(c.unitAttached ? std::vector{Unit()} : std::vector<SimulatedUnitOptions>{});
        Choose(existing);
        ui = {};
        ui.answers = {c.overwrite};
        EXPECT_EQ(Start(), c.outcome);
        EXPECT_EQ(ui.asked, std::vector<std::string>{text::kFileExists});
        EXPECT_EQ(ui.shown, c.shown);
        EXPECT_EQ(test::ReadText(existing), "precious");
    }
    Attach({Unit()});
    Choose(dir.File("new.wdq"));
    driver = std::make_unique<SimulatedDriver>(std::vector<SimulatedUnitOptions>{}, 0.01);
    setup->link.SetDriver(driver.get());
    EXPECT_EQ(Start(), StartOutcome::NoUnit);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.wdq"))) << "nothing is left behind";
}

TEST_F(ControlTest, StartChecksTheChoicesBeforeAnythingHappens) {
    Attach({Unit()});
    Choose(dir.File("x.wdq"), 0);
    EXPECT_EQ(Start(), StartOutcome::NoChannel);
    EXPECT_EQ(ui.shown, std::vector<std::string>{text::kNoChannel});

    ui = {};
    const std::string unreachable = dir.File("missing/x.wdq");
    Choose(unreachable);
    EXPECT_EQ(Start(), StartOutcome::CantCreate);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0], std::string(text::kCantCreate) + "\n\n" + unreachable + ": " +
                               test::MissingFolderReason());
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
}

TEST_F(ControlTest, ARecordingStartsWithItsNoticeAndStopsOnlyWhenConfirmed) {
    Attach({Unit()});
    Choose(dir.File("run.wdq"), 1, 600);
    ASSERT_EQ(Start(), StartOutcome::Started);
    EXPECT_EQ(ui.shown,
              std::vector<std::string>{"Recording will be stopped automatically after 10 minutes"});
    ui.answers = {false};
    EXPECT_FALSE(StopMeasurement(*setup, ui));
    EXPECT_EQ(setup->Status(), RunStatus::Running);
    ui.answers = {true};
    EXPECT_TRUE(StopMeasurement(*setup, ui));
    EXPECT_EQ(ui.asked.size(), 2u);
    worker.Join();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
}

TEST_F(ControlTest, AScreenOnlyRunWarnsStopsWithoutAQuestionAndTakesNoMarkers) {
    Attach({Unit()});
    Choose("");
    ASSERT_EQ(Start(), StartOutcome::Started);
    EXPECT_EQ(ui.shown, std::vector<std::string>{text::kNotSaving});
    WaitForScans(10);
    EXPECT_FALSE(PrepareMarker(*setup));
    EXPECT_TRUE(StopMeasurement(*setup, ui));
    EXPECT_TRUE(ui.asked.empty());
    worker.Join();
}

TEST_F(ControlTest, PauseAddsAMarkerOfTheTimePausedAndResumes) {
    Attach({Unit()});
    Choose(dir.File("pause.wdq"));
    ASSERT_EQ(Start(), StartOutcome::Started);
    EXPECT_FALSE(PrepareMarker(*setup)) << "no marker before the second scan";
    WaitForScans(10);
    const auto marker = PrepareMarker(*setup);
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker->number, 1);
    EXPECT_GE(marker->scan, 10);
    ui = {};
    PauseMeasurement(*setup, ui);
    EXPECT_EQ(ui.shown, std::vector<std::string>{text::kPaused});
    EXPECT_EQ(setup->Status(), RunStatus::Running);
    ASSERT_EQ(setup->markers.markerCount, 2);
    EXPECT_EQ(setup->markers.Text(1), "Pause time:00:00:00");
    // A pause box left open: a second Pause resumes without a box.
    setup->pausedStatus = static_cast<int>(RunStatus::Running);
    ASSERT_TRUE(setup->ChangeStatus(RunStatus::Running, RunStatus::Paused));
    PauseMeasurement(*setup, ui);
    EXPECT_EQ(setup->Status(), RunStatus::Running);
    EXPECT_EQ(ui.shown.size(), 1u);
    StopAndWait();
}

TEST_F(ControlTest, AFullMarkerTableTakesNoMoreMarkers) {
    Attach({Unit()});
    Choose(dir.File("full.wdq"));
    ASSERT_EQ(Start(), StartOutcome::Started);
    WaitForScans(10);
    while (setup->markers.markerCount < kMaxMarkers) setup->AddMarker(5, "m", 0);
    EXPECT_FALSE(PrepareMarker(*setup));
    PauseMeasurement(*setup, ui);
    EXPECT_EQ(setup->markers.markerCount, kMaxMarkers);
    EXPECT_EQ(setup->Status(), RunStatus::Running);
    StopAndWait();
}

}  // namespace
}  // namespace tamix
