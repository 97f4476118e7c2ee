#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "../support/TempDir.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/CsvExport.h"
#include "recording/EngineeringValue.h"
#include "recording/ExportFormat.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingExport.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

using test::ReadBytes;
using test::ReadText;

// The same scans recorded both ways, as the recorder writes them.
class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* names[] = {"Druck \xC2\xB5", "Temp, \"innen\"", "caf\xC3\xA9"};
        for (std::size_t k = 0; k < 3; ++k) {
            CopyText(channels[k].name, names[k], kNameChars);
            CopyText(channels[k].unit,
                     k == 1 ? "\xC2\xB0"
                              "C"
                            : "   V",
                     kUnitChars);
            channels[k].valueAt1V = k == 2 ? -250.0 : 1.0 + static_cast<double>(k);
            channels[k].valueAt0V = k == 2 ? 1000.0 : 0.0;
        }
        CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
        markers->markerPos[1] = 1500;
        CopyText(markers->markerText[1], "Ventil auf, jetzt", kCommentChars);
        for (int c = 0; c < kScans * 3; ++c) {
            samples.push_back(static_cast<int16_t>(((c * 40503) % 65536 - 32768) & ~3));
        }
        std::string error;
        auto wdq = DefaultFileOpener().Create(wdqPath, error);
        std::array<uint8_t, kWdqHeaderBytes> header{};
        BuildWdqHeader(header, kScans, 3, 0.002, channels, 1700000000);
        ASSERT_TRUE(wdq->Write(header.data(), header.size()));
        auto dat = DefaultFileOpener().Create(datPath, error);
        char line[kMaxTextLine];
        for (int c = 0; c < kScans; ++c) {
            const std::span<const int16_t> scan(&samples[static_cast<std::size_t>(c) * 3], 3);
            for (const int16_t s : scan) {
                uint8_t b[2];
                PutWdqSample(b, s);
                ASSERT_TRUE(wdq->Write(b, 2));
            }
            ASSERT_TRUE(dat->Write(line, FormatTextLine(line, c, 0.002, scan, channels)));
        }
        ASSERT_TRUE(WriteWdqTrailer(*wdq, *markers, 2, channels, 1700000000));
        ASSERT_TRUE(PatchWdqDataSize(*wdq, samples.size() * 2));
        ASSERT_TRUE(wdq->Close() && dat->Close());
        auto info = DefaultFileOpener().Create(InfoFileName(datPath), error);
        ASSERT_TRUE(WriteInfoFile(*info, channels, *markers, 2, 0.002) && info->Close());
    }

    std::unique_ptr<RecordingReader> Open(const std::string& path) {
        std::string error;
        auto reader = OpenRecording(path, error);
        EXPECT_TRUE(reader) << error;
        return reader;
    }

    static constexpr int kScans = 3001;
    test::TempDir dir;
    std::string wdqPath = dir.File("run.wdq");
    std::string datPath = dir.File("run.dat");
    std::array<ChannelInfo, 3> channels{};
    std::unique_ptr<MarkerTable> markers = std::make_unique<MarkerTable>();
    std::vector<int16_t> samples;
};

TEST_F(ExportTest, WinDaqToTextGivesTheRecordersBytes) {
    auto reader = Open(wdqPath);
    ExportSelection all;
    std::string error;
    ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "", all, error));
    const std::string out = dir.File("out.dat");
    ASSERT_TRUE(ExportText(*reader, all, out, DefaultFileOpener(), {}, error)) << error;
    EXPECT_EQ(ReadBytes(out), ReadBytes(datPath));
    EXPECT_EQ(ReadText(InfoFileName(out)), ReadText(InfoFileName(datPath)));
}

TEST_F(ExportTest, WinDaqToWinDaqGivesTheRecordersBytes) {
    auto reader = Open(wdqPath);
    ExportSelection all;
    std::string error;
    ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "", all, error));
    const std::string out = dir.File("out.wdq");
    ASSERT_TRUE(ExportWdq(*reader, all, out, DefaultFileOpener(), {}, error)) << error;
    EXPECT_EQ(ReadBytes(out), ReadBytes(wdqPath));
}

TEST_F(ExportTest, TextToWinDaqKeepsValuesWithinTheirDigits) {
    auto reader = Open(datPath);
    ExportSelection part;
    std::string error;
    ASSERT_TRUE(SelectExport(reader->Info(), 1.0, 4.0, "3,Temp, \"innen\"", part, error) ||
                SelectExport(reader->Info(), 1.0, 4.0, "3,2", part, error))
        << error;
    ASSERT_EQ(part.firstScan, 500);
    ASSERT_EQ(part.endScan, 2000);
    const std::string out = dir.File("part.wdq");
    ASSERT_TRUE(ExportWdq(*reader, part, out, DefaultFileOpener(), {}, error)) << error;
    auto back = Open(out);
    ASSERT_EQ(back->Info().scanCount, 1500);
    ASSERT_EQ(back->Info().markers.size(), 2u);
    EXPECT_EQ(back->Info().markers[1].scan, 1000);
    EXPECT_EQ(back->Info().channels[0].Name(), "caf\xC3\xA9");
    std::vector<double> got(3000);
    std::vector<double> want(3 * 1500);
    ASSERT_TRUE(back->ReadValues(0, 1500, got));
    ASSERT_TRUE(reader->ReadValues(500, 1500, want));
    for (int s = 0; s < 1500; ++s) {
        const double w = want[static_cast<std::size_t>(s) * 3 + 2];
        // Four digits in the text, 14 bits in the WinDaq samples.
        EXPECT_NEAR(got[static_cast<std::size_t>(s) * 2], w, 5000.0 / 8192 * 2) << s;
    }
}

// Every value is the shortest text of the value the reader gives, whether the
// export formats it afresh or reuses the text of an earlier equal sample; the
// text file's values take the plain path.
TEST_F(ExportTest, CsvValuesAreTheShortestTextsOfTheRecordedValues) {
    for (const std::string& path : {wdqPath, datPath}) {
        auto reader = Open(path);
        ExportSelection sel;
        std::string error;
        ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "3,1", sel, error));
        const std::string out = dir.File("values.csv");
        ASSERT_TRUE(ExportCsv(*reader, sel, out, DefaultFileOpener(), {}, error)) << error;
        const std::string csv = ReadText(out);
        std::vector<double> values(static_cast<std::size_t>(kScans) * 3);
        ASSERT_TRUE(reader->ReadValues(0, kScans, values));
        std::string want;
        char buf[64];
        std::size_t at = csv.find('\n') + 1;
        for (int s = 0; s < kScans; ++s) {
            const std::size_t end = csv.find('\n', at);
            ASSERT_NE(end, std::string::npos) << path << " scan " << s;
            const std::string line = csv.substr(at, end - at);
            const std::string got = line.substr(line.find(','));
            want.clear();
            for (const int k : {2, 0}) {
                const auto r = std::to_chars(buf, buf + sizeof buf,
                                             values[static_cast<std::size_t>(s) * 3 + k]);
                want += ",";
                want.append(buf, r.ptr);
            }
            ASSERT_EQ(got, want) << path << " scan " << s;
            at = end + 1;
        }
        EXPECT_EQ(at, csv.size());
    }
}

TEST_F(ExportTest, CsvHasTitlesValuesAndMarkers) {
    auto reader = Open(wdqPath);
    ExportSelection sel;
    std::string error;
    ASSERT_TRUE(SelectExport(reader->Info(), {}, 0.006, "2,1", sel, error));
    const std::string out = dir.File("out.csv");
    ASSERT_TRUE(ExportCsv(*reader, sel, out, DefaultFileOpener(), {}, error)) << error;
    const std::string csv = ReadText(out);
    // Three channels do not tell their inputs: each title names the channel's
    // place in the recording, the number --channels took.
    const std::string title =
        "time_s,\"#2: Temp, \"\"innen\"\" [\xC2\xB0"
        "C]\",#1: Druck \xC2\xB5 [V]\n";
    ASSERT_EQ(csv.substr(0, title.size()), title);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_NE(csv.find("\n0.004000,"), std::string::npos);
    EXPECT_EQ(ReadText(MarkersCsvName(out)), "scan,time_s,comment\n0,0.000000,Acquisition start\n");
    ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "", sel, error));
    ASSERT_TRUE(ExportCsv(*reader, sel, out, DefaultFileOpener(), {}, error)) << error;
    EXPECT_EQ(ReadText(MarkersCsvName(out)),
              "scan,time_s,comment\n0,0.000000,Acquisition start\n"
              "1500,3.000000,\"Ventil auf, jetzt\"\n");
}

// A text file stores no start time: readers take its last change less its
// duration, and a text export is given the change time that keeps its start.
TEST_F(ExportTest, TextRecordingsKeepTheirStartTime) {
    namespace chrono = std::chrono;
    const auto at = [](int64_t ms) {
        return chrono::file_clock::from_sys(
            chrono::sys_time<chrono::milliseconds>{chrono::milliseconds{ms}});
    };
    // 3001 scans at 0.002 s end 6.002 s after their start.
    std::filesystem::last_write_time(datPath, at(1'700'000'100'000 + 6'002));
    auto text = Open(datPath);
    EXPECT_EQ(text->Info().startTime, 1'700'000'100);
    EXPECT_TRUE(text->Info().startTimeEstimated);
    EXPECT_FALSE(Open(wdqPath)->Info().startTimeEstimated) << "a WinDaq header has its own";

    auto wdq = Open(wdqPath);
    ExportSelection part;
    std::string error;
    ASSERT_TRUE(SelectExport(wdq->Info(), 1.0, 4.0, "", part, error)) << error;
    const std::string out = dir.File("part.dat");
    ASSERT_TRUE(ExportText(*wdq, part, out, DefaultFileOpener(), {}, error)) << error;
    auto back = Open(out);
    EXPECT_EQ(back->Info().startTime, 1'700'000'001) << "the WinDaq start plus 1.0 s";
    EXPECT_TRUE(back->Info().startTimeEstimated);
}

TEST_F(ExportTest, BadSelectionsAreRefused) {
    auto reader = Open(wdqPath);
    ExportSelection sel;
    std::string error;
    EXPECT_FALSE(SelectExport(reader->Info(), {}, {}, "4", sel, error));
    EXPECT_FALSE(SelectExport(reader->Info(), {}, {}, "nope", sel, error));
    EXPECT_FALSE(SelectExport(reader->Info(), {}, {}, "A", sel, error))
        << "three channels do not tell their inputs";
    EXPECT_FALSE(SelectExport(reader->Info(), 3.0, 1.0, "", sel, error));
    EXPECT_FALSE(
        ExportCsv(*reader, sel, dir.File("missing/x.csv"), DefaultFileOpener(), {}, error));
    EXPECT_NE(error.find("missing/x.csv"), std::string::npos) << error;
}

// Replacement files that meet a full disk: a write past `budget` bytes (over
// all files of the export) fails, as the real file's write does once its
// buffer goes to the system, and so does the close of file number
// `failingClose` (from 1), where a small file's bytes first reach the disk.
class FullDiskOpener final : public FileOpener {
  public:
    FullDiskOpener(std::size_t budget, int failingClose)
        : budget_(budget), failingClose_(failingClose) {}
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) override {
        return DefaultFileOpener().Create(path, error);
    }
    std::unique_ptr<ReplacementFile> CreateReplacement(const std::string& target,
                                                       std::string& error) override {
        auto real = DefaultFileOpener().CreateReplacement(target, error);
        if (!real) return nullptr;
        return std::make_unique<File>(*this, std::move(real), ++files_);
    }

  private:
    class File final : public ReplacementFile {
      public:
        File(FullDiskOpener& disk, std::unique_ptr<ReplacementFile> real, int number)
            : disk_(disk), real_(std::move(real)), number_(number) {}
        bool Write(const void* data, std::size_t size) override {
            if (failed_ || disk_.used_ + size > disk_.budget_) return Fail();
            disk_.used_ += size;
            return real_->Write(data, size);
        }
        bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
            return !failed_ && real_->PatchAt(offset, data, size);
        }
        bool Flush() override { return !failed_ && real_->Flush(); }
        uint64_t DurableSize() override { return real_->DurableSize(); }
        bool Close() override {
            if (number_ == disk_.failingClose_) Fail();
            return real_->Close() && !failed_;
        }
        bool Commit() override { return !failed_ && real_->Commit(); }
        std::string WritablePath() const override { return real_->WritablePath(); }
        std::string Error() const override {
            return failed_ ? "No space left on device" : real_->Error();
        }

      private:
        bool Fail() {
            failed_ = true;
            return false;
        }
        FullDiskOpener& disk_;
        std::unique_ptr<ReplacementFile> real_;
        int number_;
        bool failed_ = false;
    };

    std::size_t budget_;
    int failingClose_;
    std::size_t used_ = 0;
    int files_ = 0;
};

std::set<std::string> Listing(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// An export that fails at any point, in the data or in its companion file,
// leaves the files it would have replaced byte for byte and nothing else.
TEST_F(ExportTest, AFailedExportLeavesTheOldFilesWholeAndNothingBehind) {
    struct Case {
        const char* what;
        std::size_t budget;
        int failingClose;
    };
    const Case cases[] = {
        {"the first write", 0, 0},
        {"a write amid the data", 10000, 0},
        {"the data file's close", SIZE_MAX, 1},
        {"the companion's close", SIZE_MAX, 2},
    };
    for (const ExportFormat format :
         {ExportFormat::Csv, ExportFormat::Text, ExportFormat::WinDaq}) {
        const std::string out = dir.File(format == ExportFormat::Csv    ? "old.csv"
                                         : format == ExportFormat::Text ? "old.dat"
                                                                        : "old.wdq");
        const std::vector<std::string> outputs = ExportOutputs(format, out);
        for (const std::string& path : outputs) std::ofstream(path) << "earlier export " << path;
        for (const Case& c : cases) {
            if (c.failingClose > static_cast<int>(outputs.size())) continue;
            SCOPED_TRACE(out + ", failing at " + c.what);
            const std::set<std::string> before = Listing(dir.path());
            auto reader = Open(wdqPath);
            ExportSelection all;
            std::string error;
            ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "", all, error));
            FullDiskOpener disk(c.budget, c.failingClose);
            std::string note;
            EXPECT_FALSE(ExportRecording(*reader, all, format, out, disk, {}, note, error));
            EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
            EXPECT_NE(error.find(dir.path().string()), std::string::npos) << error;
            for (const std::string& path : outputs) {
                EXPECT_EQ(ReadText(path), "earlier export " + path);
            }
            EXPECT_EQ(Listing(dir.path()), before);
        }
        // With room on the disk the same export replaces them.
        auto reader = Open(wdqPath);
        ExportSelection all;
        std::string error;
        std::string note;
        ASSERT_TRUE(SelectExport(reader->Info(), {}, {}, "", all, error));
        FullDiskOpener room(SIZE_MAX, 0);
        ASSERT_TRUE(ExportRecording(*reader, all, format, out, room, {}, note, error)) << error;
        if (format == ExportFormat::Csv) {
            EXPECT_EQ(ReadText(out).rfind("time_s,", 0), 0u);
        } else {
            EXPECT_EQ(ReadBytes(out), ReadBytes(format == ExportFormat::Text ? datPath : wdqPath));
        }
    }
}

}  // namespace
}  // namespace tamix
