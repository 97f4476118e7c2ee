// The measurement choices that the dialog and the recorder share: read from
// and written to the profile byte for byte, turned into the shared record with
// durations in seconds, and checked by the one function both call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>

#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "dialogs/ChoicesProfile.h"
#include "dialogs/MeasurementOptions.h"
#include "dialogs/OptionChecks.h"
#include "dialogs/SplitEvery.h"

namespace tamix {
namespace {

// A profile holding every key of the choices, as the dialog writes it.
std::string FullProfile(const std::string& time, int timeUnit) {
    std::string text = "[Options]\r\n";
    for (int i = 1; i <= 8; ++i)
        text += "chn" + std::to_string(i) + "=" + (i % 3 ? "1" : "0") + "\r\n";
    text += "freq=3\r\nfiletype=1\r\ntime=" + time + "\r\ntime unit=" + std::to_string(timeUnit) +
            "\r\n[Channel info]\r\n";
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        text += "name" + n + "=Druck " + n + "\r\nunit" + n + "=mmHg\r\n1VValue" + n + "=" +
                std::to_string(i * 10 + 1) + ".125\r\n0Value" + n + "=-" + n + ".5\r\n";
    }
    return text;
}

TEST(MeasurementChoicesTest, AProfileIsWrittenBackAsItWasRead) {
    for (const auto& [time, unit] : {std::pair<std::string, int>{"30", 0},
                                     {"2", 1},
                                     {"0.333333", 1},
                                     {"123.457", 0},
                                     {"0.01", 0},
                                     {"6000", 1}}) {
        SCOPED_TRACE(time);
        test::TempDir dir;
        const std::string text = FullProfile(time, unit);
        std::ofstream(dir.File("in.INI"), std::ios::binary) << text;
        const IniFile in(dir.File("in.INI"));
        MeasurementChoices choices;
        std::vector<SettingRepair> repairs;
        LoadChoices(in, choices, repairs);
        EXPECT_TRUE(repairs.empty());
        IniFile out(dir.File("in.INI"));
        SaveChoices(choices, out);
        EXPECT_EQ(out.Text(), text);

        // The dialog loads and saves through the same choices.
        IniFile viaDialog(dir.File("in.INI"));
        MeasurementOptions(in).SaveSettings(viaDialog);
        EXPECT_EQ(viaDialog.Text(), text);
    }
}

// Typed times whose number turned into seconds and back would print
// differently in the profile's six digits: the dialog saves what was typed.
TEST(MeasurementChoicesTest, ATypedTimeIsSavedAsTyped) {
    for (const double typed : {902.3995, 423.6465, 352.7935, 209.8545}) {
        SCOPED_TRACE(typed);
        MeasurementOptions options{IniFile()};
        options.m_dTotalTime = typed;
        options.m_nTimeUnit = 1;
        IniFile profile;
        options.SaveSettings(profile);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%g", typed);
        EXPECT_EQ(profile.GetString("Options", "time", ""), expected);
    }
}

TEST(MeasurementChoicesTest, TheDialogAndTheRecorderReadTheSameChoices) {
    test::TempDir dir;
    std::ofstream(dir.File("p.INI"), std::ios::binary) << FullProfile("1.5", 1);
    const IniFile profile(dir.File("p.INI"));
    MeasurementChoices loaded;
    std::vector<SettingRepair> repairs;
    LoadChoices(profile, loaded, repairs);
    const MeasurementChoices shown = MeasurementOptions(profile).Choices();
    for (std::size_t i = 0; i < loaded.inputs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown.inputs[i].recorded, loaded.inputs[i].recorded);
        EXPECT_EQ(shown.inputs[i].name, loaded.inputs[i].name);
        EXPECT_EQ(shown.inputs[i].unit, loaded.inputs[i].unit);
        EXPECT_EQ(shown.inputs[i].calibration.valueAt1V, loaded.inputs[i].calibration.valueAt1V);
        EXPECT_EQ(shown.inputs[i].calibration.valueAt0V, loaded.inputs[i].calibration.valueAt0V);
    }
    EXPECT_EQ(loaded.inputs[2].recorded, false);
    EXPECT_EQ(loaded.inputs[4].name, "Druck 4");
    EXPECT_EQ(loaded.inputs[4].calibration.valueAt1V, 41.125);
    EXPECT_EQ(loaded.inputs[4].calibration.valueAt0V, -4.5);
    EXPECT_EQ(loaded.fileType, FileType::Text);
    EXPECT_EQ(loaded.freqIndex, 3);
    EXPECT_EQ(loaded.duration.Seconds(), 5400.0);
    EXPECT_EQ(shown.duration.Seconds(), 5400.0);
}

// The run lasts the seconds given, whichever unit they were given in.
TEST(MeasurementChoicesTest, TheSharedRecordGetsTheDurationInSeconds) {
    struct Case {
        Duration duration;
        double seconds;
    };
    const Case cases[] = {
        {{30, TimeUnit::Minutes}, 1800},   {{2, TimeUnit::Hours}, 7200},
        {{0.5, TimeUnit::Seconds}, 0.5},   {{90, TimeUnit::Seconds}, 90},
        {Duration::InSeconds(0.05), 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        MeasurementChoices choices;
        choices.duration = c.duration;
        auto setup = std::make_unique<MeasurementSetup>();
        FillSetup(choices, *setup);
        EXPECT_EQ(setup->totalTime, c.seconds);
    }
    // Seconds are kept in the profile as minutes, its smaller unit.
    MeasurementChoices choices;
    choices.duration = Duration::InSeconds(90);
    IniFile profile;
    SaveChoices(choices, profile);
    EXPECT_EQ(profile.GetString("Options", "time", ""), "1.5");
    EXPECT_EQ(profile.GetString("Options", "time unit", ""), "0");
}

// Each input's calibration reaches its own channel: the value at 1 V is the
// scale, the value at 0 V the offset.
TEST(MeasurementChoicesTest, EachRecordedInputKeepsItsCalibration) {
    MeasurementChoices choices;
    for (InputChoice& in : choices.inputs) in.recorded = false;
    choices.inputs[0] = {true, "P", "mmHg", {.valueAt1V = 100, .valueAt0V = 5}};
    choices.inputs[5] = {true, "Q", "V", {.valueAt1V = -2.5, .valueAt0V = 1000}};
    auto setup = std::make_unique<MeasurementSetup>();
    FillSetup(choices, *setup);
    ASSERT_EQ(setup->channelCount, 2);
    EXPECT_EQ(setup->channels[0].inputNumber, 0);
    EXPECT_EQ(setup->channels[0].valueAt1V, 100);
    EXPECT_EQ(setup->channels[0].valueAt0V, 5);
    EXPECT_EQ(setup->channels[1].inputNumber, 5);
    EXPECT_EQ(setup->channels[1].valueAt1V, -2.5);
    EXPECT_EQ(setup->channels[1].valueAt0V, 1000);
}

TEST(MeasurementChoicesTest, OneCheckRefusesWhatCannotMakeARun) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        void (*change)(MeasurementChoices&);
        std::string message;  // empty: accepted
    };
    static double gNan = nan;
    const Case cases[] = {
        {"defaults", [](MeasurementChoices&) {}, ""},
        {"flat input 3",
         [](MeasurementChoices& c) {
             c.inputs[2].calibration = {0, 5};
         },
         "Input 3: The calibration is not usable: 1 V reads the same as 0 V."},
        {"NaN on input B, not recorded",
         [](MeasurementChoices& c) {
             c.inputs[5].calibration = {gNan, 0};
         },
         ""},
        {"NaN on input B, recorded",
         [](MeasurementChoices& c) {
             c.inputs[5].recorded = true;
             c.inputs[5].calibration = {gNan, 0};
         },
         "Input B: The calibration is not usable: not a finite number."},
        {"no time", [](MeasurementChoices& c) { c.duration = Duration::InSeconds(0); },
         "The total time must be more than 0 and at most 6000 hours."},
        {"NaN time", [](MeasurementChoices& c) { c.duration = Duration::InSeconds(gNan); },
         "The total time must be more than 0 and at most 6000 hours."},
        {"6000 h",
         [](MeasurementChoices& c) {
             c.duration = {6000, TimeUnit::Hours};
         },
         ""},
        {"over 6000 h",
         [](MeasurementChoices& c) { c.duration = Duration::InSeconds(6000 * 3600.0 + 1); },
         "The total time must be more than 0 and at most 6000 hours."},
        {"saving without a name",
         [](MeasurementChoices& c) {
             c.save = SaveMode::ToFile;
             c.fileName = "/tmp/ ";
         },
         "Please enter a name for the output file."},
        {"a path too long",
         [](MeasurementChoices& c) {
             c.save = SaveMode::ToFile;
             c.fileName = "/" + std::string(5000, 'a');
         },
         "The output file name is too long: at most 4095 bytes are possible."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MeasurementChoices choices;
        c.change(choices);
        EXPECT_EQ(CheckChoices(choices), c.message);
    }
}

TEST(MeasurementChoicesTest, NamesAndUnitsOverTheirLimitAreFoundOnRecordedInputsOnly) {
    MeasurementChoices choices;
    choices.inputs[6].name = std::string(31, 'n');  // input C, not recorded
    EXPECT_FALSE(FirstTextOverLimit(choices));
    choices.inputs[1].unit = "\xC2\xB5Volt";  // five characters, six bytes
    const std::optional<TextOverLimit> found = FirstTextOverLimit(choices);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->input, 1);
    EXPECT_TRUE(found->isUnit);
    EXPECT_EQ(found->fault, "5 characters, at most 4 are possible");
    choices.inputs[1].unit = "\xC2\xB5V\xC2\xB5V";
    EXPECT_FALSE(FirstTextOverLimit(choices)) << "four characters in eight bytes fit";
}

}  // namespace
}  // namespace tamix

namespace tamix {
namespace {

TEST(SplitEveryTest, DurationsAreANumberWithAnOptionalUnit) {
    const struct {
        const char* text;
        double seconds;  // 0: refused
    } cases[] = {
        {"30s", 30},    {"10m", 600}, {"1h", 3600},     {"1d", 86400}, {"2", 2},
        {"1.5h", 5400}, {"+90", 90},  {"0.25d", 21600}, {"1", 1},      {"6000h", 21.6e6},
        {"0", 0},       {"0s", 0},    {"-1h", 0},       {"0.5", 0},    {"", 0},
        {"h", 0},       {"1x", 0},    {"1 h", 0},       {" 1h", 0},    {"1hh", 0},
        {"1min", 0},    {"nan", 0},   {"inf", 0},       {"1e3", 0},    {"6001h", 0},
    };
    for (const auto& c : cases) {
        const std::optional<double> got = ParseSplitEvery(c.text);
        if (c.seconds == 0) {
            EXPECT_FALSE(got) << '"' << c.text << '"';
        } else {
            ASSERT_TRUE(got) << '"' << c.text << '"';
            EXPECT_DOUBLE_EQ(*got, c.seconds) << c.text;
        }
    }
    EXPECT_EQ(SplitEveryFault("--split", ""), "");
    EXPECT_NE(SplitEveryFault("--split", "0").find("--split 0: "), std::string::npos);
}

TEST(SplitEveryTest, TheProfileKeepsItAsTypedAndTheRecordGetsSeconds) {
    test::TempDir dir;
    IniFile profile(dir.File("p.INI"));
    MeasurementChoices c;
    std::vector<SettingRepair> repairs;
    LoadChoices(profile, c, repairs);
    EXPECT_EQ(c.splitEvery, "");
    SaveChoices(c, profile);
    // A profile that never had a split gains no key.
    EXPECT_EQ(profile.Text().find("SplitEvery"), std::string::npos);
    c.splitEvery = "1.5h";
    SaveChoices(c, profile);
    EXPECT_NE(profile.Text().find("SplitEvery=1.5h"), std::string::npos);
    MeasurementChoices back;
    LoadChoices(profile, back, repairs);
    EXPECT_EQ(back.splitEvery, "1.5h");
    auto setup = std::make_unique<MeasurementSetup>();
    FillSetup(back, *setup);
    EXPECT_DOUBLE_EQ(setup->splitSeconds, 5400);
    back.splitEvery = "soon";
    EXPECT_NE(CheckChoices(back).find("[Options] SplitEvery soon: "), std::string::npos);
}

}  // namespace
}  // namespace tamix
