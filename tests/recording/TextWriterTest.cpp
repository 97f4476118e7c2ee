#include <gtest/gtest.h>

#include <memory>

#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "recording/EngineeringValue.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

class TextWriterTest : public ::testing::Test {
  protected:
    std::string Line(int64_t scan, std::vector<int16_t> samples) {
        char buf[kMaxTextLine];
        const std::size_t n = FormatTextLine(buf, scan, 0.002, samples,
                                             std::span(setup->channels).first(samples.size()));
        return {buf, n};
    }
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

TEST_F(TextWriterTest, LinesHoldTimeAndEngineeringValues) {
    EXPECT_EQ(Line(0, {16384, -8192}), "0.000 5 -2.5 \r\n");
    EXPECT_EQ(Line(1234, {32752}), "2.468 9.995 \r\n");
    setup->channels[0].valueAt1V = 1000.0;
    setup->channels[0].valueAt0V = 0.5;
    EXPECT_EQ(Line(1, {32767}), "0.002 1e+004 \r\n");
    EXPECT_EQ(EngineeringValue(3276, setup->channels[0]), 3276 / 3276.8 * 1000.0 + 0.5);
}

TEST(InfoFileNameTest, CutsOnlyInsideTheFilesOwnName) {
    EXPECT_EQ(InfoFileName("/rec/run1.dat"), "/rec/run1_info.txt");
    EXPECT_EQ(InfoFileName("run1.dat"), "run1_info.txt");
    EXPECT_EQ(InfoFileName("/my.data/x.dat"), "/my.data/x_info.txt");
    EXPECT_EQ(InfoFileName("/rec/a.dat.old"), "/rec/a_info.txt");
    EXPECT_EQ(InfoFileName("/my.dat/x"), "/my.dat/x_info.txt");
}

TEST_F(TextWriterTest, InfoFileListsChannelsAndMarkers) {
    test::TempDir dir;
    setup->AddMarker(1000, "stimulus", 0);
    setup->AddMarker(1500, "", 0);
    setup->AddMarker(6250, "", 0);
    std::string error;
    const std::string path = dir.File("run_info.txt");
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file);
    ASSERT_TRUE(WriteInfoFile(*file, std::span(setup->channels).first(1), setup->markers,
                              setup->markers.markerCount, 0.002));
    ASSERT_TRUE(file->Close());
    EXPECT_EQ(test::ReadText(path),
              "Channel name: Chn0\r\n"
              "Marker #0: Acquisition start at 0.000 sec\r\n"
              "Marker #1: stimulus at 2.000 sec\r\n"
              "Marker #2:  at 3.000 sec\r\n"
              "Marker #3:  at 12.500 sec\r\n");
}

}  // namespace
}  // namespace tamix
