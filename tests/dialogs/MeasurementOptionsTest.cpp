#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>

#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "dialogs/MeasurementOptions.h"

namespace tamix {
namespace {

namespace id = options_id;

// Controls as plain values, with the failures the dialog would show.
class FakeControls final : public ControlAccess {
  public:
    std::map<int, int> checks, selections, radios;
    std::map<int, std::string> texts;
    std::vector<std::pair<int, std::string>> failures;

    int GetCheck(int i) const override { return Get(checks, i); }
    void SetCheck(int i, int s) override { checks[i] = s; }
    std::string GetText(int i) const override { return Get(texts, i); }
    void SetText(int i, std::string_view t) override { texts[i] = std::string(t); }
    int GetSelection(int i) const override { return Get(selections, i); }
    void SetSelection(int i, int s) override { selections[i] = s; }
    std::string GetComboText(int i) const override { return Get(texts, i); }
    void SetComboText(int i, std::string_view t) override { texts[i] = std::string(t); }
    int GetRadio(int first, int) const override { return Get(radios, first); }
    void SetRadio(int first, int, int p) override { radios[first] = p; }
    void Fail(int i, std::string_view m, bool) override { failures.emplace_back(i, m); }

  private:
    template <typename M>
    static typename M::mapped_type Get(const M& m, int i) {
        const auto it = m.find(i);
        return it == m.end() ? typename M::mapped_type{} : it->second;
    }
};

class MeasurementOptionsTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    IniFile profile{dir.File("tamix.INI")};
    MeasurementOptions options{profile};
    FakeControls controls;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();

    void Fill() { options.Exchange(controls, false); }
};

TEST_F(MeasurementOptionsTest, AnEmptyProfileGivesTheDefaults) {
    EXPECT_EQ(options.m_bChannel, (std::array<int, 8>{1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(options.m_nFreqIndex, 2);
    EXPECT_EQ(options.m_nFileType, 0);
    EXPECT_EQ(options.m_dTotalTime, 30.0);
    EXPECT_EQ(options.m_nTimeUnit, 0);
    EXPECT_EQ(options.m_strSignalName, "chn");
    EXPECT_EQ(options.m_strUnit, "Volt");
    EXPECT_EQ(options.m_nSaveMode, 0);
    EXPECT_EQ(options.m_strApproxSize, "6.87 Mbytes");
}

TEST_F(MeasurementOptionsTest, TheEstimateFollowsTypeInputsAndUnit) {
    Fill();
    controls.selections[id::kFileType] = 1;
    options.OnEstimateInputChanged(controls);
    EXPECT_EQ(controls.texts[id::kApproxSize], "27.47 Mbytes");
    controls.selections[id::kFileType] = 0;
    for (int i = 0; i < 4; ++i) controls.checks[id::kChannel0 + i] = 0;
    options.OnEstimateInputChanged(controls);
    EXPECT_EQ(options.m_strApproxSize, "0.00 Mbytes");
    EXPECT_EQ(EstimateBytes(0, 0, 2, 30, 0), 2156.0);
}

TEST_F(MeasurementOptionsTest, SwitchingTheTimeUnitKeepsTheDuration) {
    Fill();
    controls.selections[id::kTimeUnit] = 1;
    options.OnTimeUnitChanged(controls);
    EXPECT_EQ(controls.texts[id::kTotalTime], "0.5");
    controls.selections[id::kTimeUnit] = 0;
    options.OnTimeUnitChanged(controls);
    EXPECT_EQ(controls.texts[id::kTotalTime], "30");
}

TEST_F(MeasurementOptionsTest, TypingANameChoosesSavingAndDeletingItScreenOnly) {
    Fill();
    controls.texts[id::kFileName] = "r";
    options.OnFileNameChanged(controls);
    EXPECT_EQ(controls.radios[id::kScreenOnly], 1);
    controls.texts[id::kFileName] = "";
    options.OnFileNameChanged(controls);
    EXPECT_EQ(controls.radios[id::kScreenOnly], 0);
}

TEST_F(MeasurementOptionsTest, ATypedExtensionChoosesTheTypeBeforeOk) {
    struct Case {
        const char* typed;
        int typeBefore;
        int type;
        const char* recorded;
    };
    for (const Case& c :
         {Case{"run5.wdq", 1, 0, "run5.wdq"}, Case{"run5.dat", 0, 1, "run5.dat"},
          Case{"RUN5.WDQ", 1, 0, "RUN5.WDQ.wdq"}, Case{"run5", 1, 1, "run5.dat"},
          Case{"a.wdq.old", 1, 1, "a.wdq.old.dat"}, Case{".wdq", 1, 1, ".wdq.dat"}}) {
        SCOPED_TRACE(c.typed);
        controls = {};
        options.m_nFileType = c.typeBefore;
        options.UpdateApproxSize();
        Fill();
        controls.texts[id::kFileName] = c.typed;
        options.OnFileNameChanged(controls);
        EXPECT_EQ(controls.selections[id::kFileType], c.type) << "shown before OK";
        EXPECT_EQ(controls.texts[id::kApproxSize], c.type == 1 ? "27.47 Mbytes" : "6.87 Mbytes");
        options.FillSetup(*setup);
        EXPECT_EQ(setup->fileType, c.type == 1 ? FileType::Text : FileType::WinDaq);
        EXPECT_EQ(setup->OutputFileName(), c.recorded);
    }
    // A type chosen after the name renames the name's extension.
    controls.texts[id::kFileName] = "/rec/run5.wdq";
    options.OnFileNameChanged(controls);
    controls.selections[id::kFileType] = 1;
    options.OnEstimateInputChanged(controls);
    EXPECT_EQ(controls.texts[id::kFileName], "/rec/run5.dat");
    options.FillSetup(*setup);
    EXPECT_EQ(setup->OutputFileName(), "/rec/run5.dat");
}

TEST_F(MeasurementOptionsTest, SavingWithoutAFileNameAsksForOne) {
    options.m_nSaveMode = 1;
    for (const char* name : {"", "   ", "/tmp/", "C:\\data\\", "/tmp/ "}) {
        options.m_strFileName = name;
        EXPECT_EQ(options.CheckForOk(), "Please enter a name for the output file.") << name;
    }
    options.m_strFileName = "a";
    EXPECT_EQ(options.CheckForOk(), "");
    options.m_nSaveMode = 0;
    options.m_strFileName = "";
    EXPECT_EQ(options.CheckForOk(), "") << "a run on screen needs no name";
}

TEST(ApplyExtensionTest, AppendsOnlyWhenTheTextIsMissingAnywhere) {
    EXPECT_EQ(ApplyExtension("", 0), ".wdq");
    EXPECT_EQ(ApplyExtension("", 1), ".dat");
    EXPECT_EQ(ApplyExtension("DATA.WDQ", 0), "DATA.WDQ.wdq");
    EXPECT_EQ(ApplyExtension("/run.wdq.old/a", 0), "/run.wdq.old/a");
    EXPECT_EQ(ApplyExtension("/rec/x.wdq", 1), "/rec/x.wdq.dat");
}

TEST_F(MeasurementOptionsTest, ValidationStopsAtTheFirstBadFieldInExchangeOrder) {
    Fill();
    controls.texts[id::kTotalTime] = "0";
    controls.texts[id::kValueAt1V] = "abc";
    controls.texts[id::kUnit] = "Volts";
    controls.radios[id::kScreenOnly] = 1;
    EXPECT_FALSE(options.Exchange(controls, true));
    ASSERT_EQ(controls.failures.size(), 1u);
    EXPECT_EQ(controls.failures[0].first, id::kTotalTime);
    EXPECT_EQ(controls.failures[0].second, "Please enter a number between 0.01 and 6000.");
    EXPECT_EQ(options.m_dTotalTime, 0.0) << "stored before the check";
    EXPECT_EQ(options.m_nSaveMode, 0) << "later members keep their values";

    controls.failures.clear();
    controls.texts[id::kTotalTime] = "12";
    EXPECT_FALSE(options.Exchange(controls, true));
    EXPECT_EQ(controls.failures.at(0),
              std::make_pair(id::kValueAt1V, std::string("Please enter a number.")));

    controls.failures.clear();
    controls.texts[id::kValueAt1V] = "2.5 mmHg";
    EXPECT_FALSE(options.Exchange(controls, true));
    EXPECT_EQ(options.m_dValueAt1V, 2.5);
    EXPECT_EQ(controls.failures.at(0),
              std::make_pair(id::kUnit, std::string("Please enter no more than 4 characters.")));

    controls.failures.clear();
    controls.texts[id::kUnit] = "\xC2\xB5V";  // µV: two characters, three bytes
    controls.texts[id::kSignalName] = std::string(30, 'n');
    EXPECT_TRUE(options.Exchange(controls, true));
    controls.texts[id::kSignalName] = std::string(31, 'n');
    EXPECT_FALSE(options.Exchange(controls, true));
    EXPECT_EQ(controls.failures.at(0).second, "Please enter no more than 30 characters.");
}

TEST_F(MeasurementOptionsTest, EachInputKeepsItsOwnNameUnitAndCalibration) {
    Fill();
    controls.texts[id::kSignalName] = "ECG";
    controls.texts[id::kValueAt1V] = "2";
    controls.radios[id::kChannelRadio0] = 4;  // input "A"
    options.OnChannelRadio(controls);
    EXPECT_EQ(options.m_strNames[0], "ECG");
    EXPECT_EQ(options.m_dValues1V[0], 2.0);
    EXPECT_EQ(controls.texts[id::kSignalName], "chn");
    // Unticking input "2" makes it the shown input.
    controls.checks[id::kChannel0 + 1] = 0;
    options.OnChannelClicked(controls, 1);
    EXPECT_EQ(controls.radios[id::kChannelRadio0], 1);
    EXPECT_EQ(options.m_bChannel[1], 0);
}

TEST_F(MeasurementOptionsTest, OkPacksTheTickedInputsAndSavesTheProfile) {
    options.m_bChannel = {0, 0, 1, 0, 1, 0, 0, 0};
    options.m_strNames[4] = "Flow";
    options.m_strUnits[4] = "mV";
    options.m_dValues1V[2] = 1234.5678;
    options.m_nSaveMode = 1;
    options.m_strFileName = dir.File("rec");
    options.m_nTimeUnit = 1;
    options.m_dTotalTime = 2;
    options.m_nChannelRadio = 2;
    options.m_nEditedChannel = 2;
    options.m_dValueAt1V = 1234.5678;
    options.TransferToSetup(*setup, profile);
    std::string error;
    ASSERT_TRUE(profile.Save(error)) << error;
    EXPECT_EQ(setup->channelCount, 2);
    EXPECT_EQ(setup->channels[0].inputNumber, 2);
    EXPECT_EQ(setup->channels[1].inputNumber, 4);
    EXPECT_EQ(setup->channels[1].Name(), "Flow");
    EXPECT_EQ(setup->channels[1].Unit(), "  mV");
    EXPECT_EQ(setup->channels[0].valueAt1V, 1234.5678) << "the run uses the unrounded value";
    EXPECT_EQ(setup->OutputFileName(), dir.File("rec") + ".wdq");
    EXPECT_EQ(setup->totalTime, 7200.0);
    EXPECT_EQ(setup->saveToFile, SaveMode::ToFile);

    const MeasurementOptions next(IniFile(dir.File("tamix.INI")));
    EXPECT_EQ(next.m_dValues1V[2], 1234.57);
    EXPECT_EQ(next.m_dTotalTime, 2);
    EXPECT_EQ(next.m_nTimeUnit, 1);
    EXPECT_EQ(next.m_bChannel, options.m_bChannel);
    EXPECT_EQ(next.m_nSaveMode, 0) << "the save mode is never taken from the profile";
    EXPECT_TRUE(next.m_strFileName.empty());
}

TEST_F(MeasurementOptionsTest, ScreenOnlyStoresNoFileName) {
    options.m_strFileName = "ignored";
    options.TransferToSetup(*setup, profile);
    EXPECT_EQ(setup->OutputFileName(), "");
    EXPECT_EQ(setup->saveToFile, SaveMode::ScreenOnly);
}

TEST_F(MeasurementOptionsTest, RepairsOutOfRangeProfileValues) {
    profile.SetInt("Options", "filetype", 5);
    profile.SetInt("Options", "freq", 9);
    profile.SetString("Channel info", "name3", std::string(50, 'x'));
    const MeasurementOptions repaired(profile);
    EXPECT_EQ(repaired.m_nFileType, 0);
    EXPECT_EQ(repaired.m_nFreqIndex, 4);
    EXPECT_EQ(repaired.m_strNames[3].size(), 50u) << "names are taken as found";
    EXPECT_EQ(repaired.Repairs().size(), 2u);
    profile.SetInt("Options", "freq", -3);
    EXPECT_EQ(MeasurementOptions(profile).m_nFreqIndex, 0);
}

struct RepairCase {
    std::string text;  // profile lines
    SettingRepair::Field field;
    int input;
};

// Each value the dialog would not accept becomes its default (a bad time or
// unit the default duration, a bad calibration the pair 1 and 0) and is listed.
TEST(MeasurementOptionsRepairTest, ValuesTheDialogWouldRefuseBecomeDefaults) {
    using F = SettingRepair::Field;
    const RepairCase cases[] = {
        {"[Options]\ntime=0", F::TotalTime, -1},
        {"[Options]\ntime=-5", F::TotalTime, -1},
        {"[Options]\ntime=nan", F::TotalTime, -1},
        {"[Options]\ntime=abc", F::TotalTime, -1},
        {"[Options]\ntime=1e999", F::TotalTime, -1},
        {"[Options]\ntime=0.005\ntime unit=1", F::TotalTime, -1},
        {"[Options]\ntime=2\ntime unit=7", F::TimeUnit, -1},
        {"[Options]\nchn3=5", F::ChannelTicked, 2},
        {"[Options]\nchn6=-1", F::ChannelTicked, 5},
        {"[Options]\nfiletype=-1", F::FileType, -1},
        {"[Channel info]\n1VValue0=nan", F::Calibration, 0},
        {"[Channel info]\n0Value1=inf", F::Calibration, 1},
        {"[Channel info]\n1VValue2=-inf\n0Value2=3", F::Calibration, 2},
        {"[Channel info]\n1VValue3=0\n0Value3=5", F::Calibration, 3},
        {"[Channel info]\n1VValue4=1e-20\n0Value4=1e6", F::Calibration, 4},
        {"[Channel info]\n1VValue5=1e308", F::Calibration, 5},
        {"[Channel info]\n0Value6=-1e999", F::Calibration, 6},
    };
    const MeasurementOptions defaults{IniFile()};
    for (const RepairCase& c : cases) {
        SCOPED_TRACE(c.text);
        test::TempDir dir;
        std::ofstream(dir.File("tamix.INI"), std::ios::binary) << c.text;
        const MeasurementOptions o{IniFile(dir.File("tamix.INI"))};
        ASSERT_EQ(o.Repairs().size(), 1u);
        EXPECT_EQ(o.Repairs()[0].field, c.field);
        EXPECT_EQ(o.Repairs()[0].input, c.input);
        EXPECT_EQ(o.m_bChannel, defaults.m_bChannel);
        EXPECT_EQ(o.m_nFileType, defaults.m_nFileType);
        EXPECT_EQ(o.m_dTotalTime, defaults.m_dTotalTime);
        EXPECT_EQ(o.m_nTimeUnit, defaults.m_nTimeUnit);
        EXPECT_EQ(o.m_dValues1V, defaults.m_dValues1V);
        EXPECT_EQ(o.m_dValues0V, defaults.m_dValues0V);
    }
}

TEST(MeasurementOptionsRepairTest, ValuesAtTheLimitsAreKept) {
    test::TempDir dir;
    std::ofstream(dir.File("tamix.INI"), std::ios::binary)
        << "[Options]\ntime=6000\ntime unit=1\nchn6=1\n[Channel info]\n1VValue5=-2.5\n"
           "0Value5=1e6\n1VValue0=1e306\n";
    const MeasurementOptions o{IniFile(dir.File("tamix.INI"))};
    EXPECT_TRUE(o.Repairs().empty());
    EXPECT_EQ(o.m_dTotalTime, 6000);
    EXPECT_EQ(o.m_nTimeUnit, 1);
    EXPECT_EQ(o.m_bChannel[5], 1);
    EXPECT_EQ(o.m_dValues1V[5], -2.5);
    EXPECT_EQ(o.m_dValues0V[5], 1e6);
    EXPECT_EQ(o.m_dValues1V[0], 1e306);
}

TEST_F(MeasurementOptionsTest, CalibrationFieldsRefuseWhatIsNoFiniteNumber) {
    for (const int field : {id::kValueAt0V, id::kValueAt1V}) {
        for (const char* text : {"nan", "inf", "-INF", "infinity", "1e999"}) {
            SCOPED_TRACE(std::string(text) + " in " + std::to_string(field));
            Fill();
            controls.failures.clear();
            controls.texts[field] = text;
            EXPECT_FALSE(options.Exchange(controls, true));
            EXPECT_EQ(controls.failures.at(0),
                      std::make_pair(field, std::string("Please enter a number.")));
            EXPECT_EQ(options.m_dValueAt1V, 1.0);
            EXPECT_EQ(options.m_dValueAt0V, 0.0);
        }
    }
}

TEST_F(MeasurementOptionsTest, ACalibrationThatReadsOneVoltAsZeroIsRefused) {
    Fill();
    controls.texts[id::kValueAt0V] = "5";
    controls.texts[id::kValueAt1V] = "0";
    EXPECT_FALSE(options.Exchange(controls, true));
    EXPECT_EQ(
        controls.failures.at(0),
        std::make_pair(id::kValueAt1V,
                       std::string("The calibration is not usable: 1 V reads the same as 0 V.")));
    // An input whose entry holds such a pair is refused on OK while it is ticked.
    options.m_dValueAt1V = 1;
    options.m_dValues1V[2] = 0;
    EXPECT_NE(options.CheckForOk().find("Input 3:"), std::string::npos);
    options.m_bChannel[2] = 0;
    EXPECT_EQ(options.CheckForOk(), "");
}

TEST_F(MeasurementOptionsTest, OverlongPathsAreRefusedAtOk) {
    options.m_nSaveMode = 1;
    options.m_strFileName = "/" + std::string(5000, 'a');
    EXPECT_NE(options.CheckForOk(), "");
    options.m_strFileName = "/tmp/a";
    EXPECT_EQ(options.CheckForOk(), "");
}

}  // namespace
}  // namespace tamix

namespace tamix {
namespace {

TEST(SplitEveryFieldTest, TheFieldIsCheckedOnOkAndKeptInTheProfile) {
    test::TempDir dir;
    IniFile profile(dir.File("tamix.INI"));
    MeasurementOptions options(profile);
    FakeControls controls;
    options.Exchange(controls, false);
    EXPECT_EQ(controls.texts[id::kSplitEvery], "");
    controls.texts[id::kSplitEvery] = "0m";
    EXPECT_FALSE(options.Exchange(controls, true));
    ASSERT_EQ(controls.failures.size(), 1u);
    EXPECT_EQ(controls.failures[0].first, id::kSplitEvery);
    EXPECT_TRUE(controls.failures[0].second.starts_with("New file every 0m: "))
        << controls.failures[0].second;
    controls.failures.clear();
    controls.texts[id::kSplitEvery] = "10m";
    EXPECT_TRUE(options.Exchange(controls, true));
    EXPECT_TRUE(controls.failures.empty());
    auto setup = std::make_unique<MeasurementSetup>();
    options.TransferToSetup(*setup, profile);
    EXPECT_DOUBLE_EQ(setup->splitSeconds, 600);
    std::string error;
    ASSERT_TRUE(profile.Save(error)) << error;
    const MeasurementOptions next(IniFile(dir.File("tamix.INI")));
    EXPECT_EQ(next.m_strSplitEvery, "10m");
}

}  // namespace
}  // namespace tamix
