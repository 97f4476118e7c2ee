#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
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
    void ShowMessage(std::string_view text, Icon) override {
        shown.emplace_back(text);
        if (onShow) onShow();
    }
    bool Confirm(std::string_view text, Icon icon) override {
        ShowMessage(text, icon);
        return confirm;
    }
    bool AskYesNo(std::string_view question, Answer preset) override {
        asked.emplace_back(question);
        presets.push_back(preset);
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
    std::deque<bool> answers;
    std::vector<std::string> shown;
    std::vector<std::string> asked;
    std::vector<Answer> presets;
    bool confirm = true;
    std::function<void()> onShow;
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
    const std::string notice = "Recording will be stopped automatically after 1 minute";
    for (const Case& c : {Case{"declined", true, false, StartOutcome::Declined, {}},
                          Case{"no unit", false, true, StartOutcome::NoUnit, {notice, noUnit}}}) {
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

// The desktop program's path: "Overwrite?" answered Yes, then a unit that
// never answers; an info file or output that no recording can replace.
TEST_F(ControlTest, ASilentUnitOrAnIrreplaceableFileRefusesTheStartAndChangesNothing) {
    const std::string kept = dir.File("keep.dat");
    std::ofstream(kept) << "precious";
    SimulatedUnitOptions silent = Unit();
    silent.neverAnswers = true;
    driver = std::make_unique<SimulatedDriver>(std::vector<SimulatedUnitOptions>{silent}, 0.01);
    setup->link.SetDriver(driver.get());
    Choose(kept);
    setup->fileType = FileType::Text;
    ui.answers = {true};
    EXPECT_EQ(Start(), StartOutcome::NoUnit);
    EXPECT_EQ(ui.shown.back(), text::kNoUnit);
    EXPECT_EQ(test::ReadText(kept), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir.File("keep_info.txt")));

    Attach({Unit()});
    std::filesystem::create_directory(dir.File("keep_info.txt"));
    struct Case {
        std::string out;
        FileType type;
        std::string message;
    };
    std::vector<Case> cases = {
        {kept, FileType::Text, dir.File("keep_info.txt") + ": " + test::FolderInTheWayReason()}};
#ifndef _WIN32
    const std::string pipe = dir.File("pipe.wdq");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    cases.push_back({pipe, FileType::WinDaq, pipe + ": " + std::string(kNotRegularReason)});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        ui = {};
        ui.answers = {true};
        Choose(c.out);
        setup->fileType = c.type;
        EXPECT_EQ(Start(), StartOutcome::CantCreate);
        ASSERT_FALSE(ui.shown.empty());
        EXPECT_EQ(ui.shown.back(), std::string(text::kCantCreate) + "\n\n" + c.message);
        EXPECT_EQ(setup->Status(), RunStatus::Idle);
    }
    EXPECT_EQ(test::ReadText(kept), "precious");
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

TEST_F(ControlTest, ARecordingStartsOnlyOnceItsNoticeIsConfirmedAndStopsOnlyWhenConfirmed) {
    Attach({Unit()});
    const std::string run = dir.File("run.wdq");
    Choose(run, 1, 600);
    // While the notice is open nothing runs and nothing is written.
    bool idleWhileShown = false;
    ui.onShow = [&] {
        idleWhileShown = setup->Status() == RunStatus::Idle && !std::filesystem::exists(run);
    };
    ASSERT_EQ(Start(), StartOutcome::Started);
    EXPECT_TRUE(idleWhileShown);
    EXPECT_EQ(ui.shown,
              std::vector<std::string>{"Recording will be stopped automatically after 10 minutes"});
    ui.onShow = nullptr;
    ui.answers = {false};
    EXPECT_FALSE(StopMeasurement(*setup, ui));
    EXPECT_EQ(setup->Status(), RunStatus::Running);
    // A stop within the first second would record nothing: past it, the file is kept.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (setup->scanLoops < 520 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ui.answers = {true};
    EXPECT_TRUE(StopMeasurement(*setup, ui));
    EXPECT_EQ(ui.asked.size(), 2u);
    // Enter answers Stop's question with Yes.
    EXPECT_EQ(ui.presets, (std::vector{UserInterface::Answer::Yes, UserInterface::Answer::Yes}));
    worker.Join();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
}

TEST_F(ControlTest, ANoticeThatGoesUnconfirmedStartsNothing) {
    Attach({Unit()});
    for (const std::string& file : {dir.File("ending.wdq"), std::string()}) {
        Choose(file);
        ui = {};
        ui.confirm = false;
        EXPECT_EQ(Start(), StartOutcome::Declined);
        EXPECT_EQ(ui.shown.size(), 1u);
        EXPECT_EQ(setup->Status(), RunStatus::Idle);
        EXPECT_FALSE(worker.Joinable());
        if (!file.empty()) {
            EXPECT_FALSE(std::filesystem::exists(file));
        }
    }
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

TEST_F(ControlTest, NoMarkerBeforeTheSecondScanOrInAScreenOnlyRun) {
    // The counter is set by hand: with a worker it would race the check.
    struct Case {
        std::string file;
        int64_t scans;
        bool marker;
    };
    for (const Case& c : {Case{"m.wdq", 0, false}, Case{"m.wdq", 1, false}, Case{"m.wdq", 2, true},
                          Case{"", 5000, false}}) {
        Choose(c.file.empty() ? "" : dir.File(c.file));
        setup->ResetMarkers();
        setup->scanCount = c.scans;
        const auto marker = PrepareMarker(*setup);
        EXPECT_EQ(marker.has_value(), c.marker) << c.scans << " " << c.file;
        if (marker) {
            EXPECT_EQ(marker->scan, c.scans);
        }
    }
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
