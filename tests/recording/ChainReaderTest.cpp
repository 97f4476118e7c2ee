#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "../support/TempDir.h"
#include "ChainFiles.h"
#include "recording/ChainReader.h"
#include "recording/ExportChecks.h"
#include "recording/MarkerSave.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

using test::ChainParts;
using test::kChannels;
using test::kPeriod;
using test::Part;
using test::RunSample;
using test::WriteChain;
using test::WriteWdqPart;

bool HasNote(const RecordingInfo& info, const std::string& text) {
    return std::any_of(info.notes.begin(), info.notes.end(),
                       [&](const std::string& n) { return n.find(text) != std::string::npos; });
}

// The files read one by one and put one after the other.
template <typename T, typename Read>
std::vector<T> Concatenated(const std::vector<std::string>& paths, Read read) {
    std::vector<T> all;
    for (const std::string& path : paths) {
        std::string error;
        auto file = OpenRecording(path, error, RecordingScope::ThisFile);
        EXPECT_TRUE(file) << error;
        if (!file) return {};
        std::vector<T> values(static_cast<std::size_t>(file->Info().scanCount) * kChannels);
        EXPECT_TRUE(read(*file, values)) << file->Error();
        all.insert(all.end(), values.begin(), values.end());
    }
    return all;
}

// Ranges of a chain of 30, 20 and 25 scans (boundaries at 30 and 50): across
// each boundary, across both, up to them, one file exactly, none.
struct Range {
    int64_t first;
    int64_t count;
};
constexpr Range kRanges[] = {{0, 75},  {25, 10}, {29, 2}, {30, 20}, {35, 10},
                             {45, 10}, {10, 60}, {74, 1}, {75, 0},  {50, 25}};

void ExpectReadsEqualTheParts(RecordingReader& chain, const std::vector<std::string>& paths,
                              bool words) {
    const auto samples = Concatenated<int16_t>(
        paths, [](RecordingReader& r, auto& v) { return r.ReadSamples(0, r.Info().scanCount, v); });
    const auto values = Concatenated<double>(
        paths, [](RecordingReader& r, auto& v) { return r.ReadValues(0, r.Info().scanCount, v); });
    ASSERT_EQ(static_cast<int64_t>(samples.size()), chain.Info().scanCount * 2);
    for (const Range& r : kRanges) {
        SCOPED_TRACE("scans " + std::to_string(r.first) + " +" + std::to_string(r.count));
        const auto at = static_cast<std::ptrdiff_t>(r.first * 2);
        const auto n = static_cast<std::size_t>(r.count * 2);
        std::vector<int16_t> s(n);
        ASSERT_TRUE(chain.ReadSamples(r.first, r.count, s)) << chain.Error();
        EXPECT_TRUE(std::equal(s.begin(), s.end(), samples.begin() + at));
        std::vector<double> v(n);
        ASSERT_TRUE(chain.ReadValues(r.first, r.count, v)) << chain.Error();
        EXPECT_TRUE(std::equal(v.begin(), v.end(), values.begin() + at));
        std::vector<int16_t> w(n);
        std::string error;
        EXPECT_EQ(chain.CopyStoredSamples(r.first, r.count, w, error), words) << error;
        if (words) {
            EXPECT_TRUE(std::equal(w.begin(), w.end(), samples.begin() + at));
        }
    }
}

TEST(ChainNames, NumberBeforeTheExtension) {
    EXPECT_EQ(ChainFileName("d/run.wdq", 1), "d/run.wdq");
    EXPECT_EQ(ChainFileName("d/run.wdq", 2), "d/run-0002.wdq");
    EXPECT_EQ(ChainFileName("d/run.wdq", 9999), "d/run-9999.wdq");
    EXPECT_EQ(ChainFileName("d/run.wdq", 10000), "d/run-10000.wdq");
    EXPECT_EQ(ChainFileName("a.b/run", 3), "a.b/run-0003");
    EXPECT_EQ(ChainFileName("run.x.txt", 12), "run.x-0012.txt");
    const struct {
        const char* path;
        const char* first;
        int64_t position;
    } places[] = {
        {"d/run.wdq", "d/run.wdq", 1},           {"d/run-0002.wdq", "d/run.wdq", 2},
        {"d/run-0123.txt", "d/run.txt", 123},    {"run-10000.wdq", "run.wdq", 10000},
        {"x-2024-0003.wdq", "x-2024.wdq", 3},    {"a.b/run-0004", "a.b/run", 4},
        {"run-0001.wdq", "run-0001.wdq", 1},     {"run-002.wdq", "run-002.wdq", 1},
        {"run-00002.wdq", "run-00002.wdq", 1},   {"run-+002.wdq", "run-+002.wdq", 1},
        {"d-0002/run.wdq", "d-0002/run.wdq", 1}, {"-0002.wdq", "-0002.wdq", 1},
    };
    for (const auto& p : places) {
        const ChainPlace place = ChainPlaceOf(p.path);
        EXPECT_EQ(place.first, p.first) << p.path;
        EXPECT_EQ(place.position, p.position) << p.path;
    }
}

TEST(ChainReader, WinDaqFilesReadAsOneRecordingFromAnyOfThem) {
    test::TempDir dir;
    const auto paths = WriteChain(dir, ChainParts({30, 20, 25}, ".wdq"));
    const std::vector<std::pair<int64_t, std::string>> markers = {
        {0, "Acquisition start"},
        {3, "note 1"},
        {30, "Continued from run.wdq at scan 30"},
        {33, "note 2"},
        {50, "Continued from run-0002.wdq at scan 50"},
        {53, "note 3"}};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::string error;
        auto chain = OpenRecording(path, error);
        ASSERT_TRUE(chain) << error;
        const RecordingInfo& info = chain->Info();
        EXPECT_EQ(info.fileName, path);
        EXPECT_EQ(info.scanCount, 75);
        EXPECT_EQ(info.chainFiles, paths);
        EXPECT_FALSE(info.incomplete);
        EXPECT_FALSE(info.beingRecorded);
        EXPECT_EQ(info.period, kPeriod);
        EXPECT_EQ(info.startTime, 1700000000);
        ASSERT_EQ(info.channels.size(), kChannels);
        EXPECT_EQ(info.channels[1].Name(), "In1");
        EXPECT_DOUBLE_EQ(info.channels[1].valueAt1V, 2.0);
        ASSERT_EQ(info.markers.size(), markers.size());
        for (std::size_t m = 0; m < markers.size(); ++m) {
            EXPECT_EQ(info.markers[m].scan, markers[m].first) << m;
            EXPECT_EQ(info.markers[m].comment, markers[m].second) << m;
        }
        EXPECT_TRUE(HasNote(info,
                            "It is a chain of 3 files, read as one recording: run.wdq, "
                            "run-0002.wdq, run-0003.wdq."));
        ExpectReadsEqualTheParts(*chain, paths, true);
        // The samples run on across the files, as the unit gave them.
        std::vector<int16_t> all(150);
        ASSERT_TRUE(chain->ReadSamples(0, 75, all));
        for (int64_t s = 0; s < 75; ++s) {
            for (std::size_t k = 0; k < kChannels; ++k)
                ASSERT_EQ(all[static_cast<std::size_t>(s) * 2 + k], RunSample(s, k)) << s;
        }
        std::vector<int16_t> beyond(20);
        EXPECT_FALSE(chain->ReadSamples(70, 6, beyond));
        EXPECT_NE(chain->Error().find("outside the recording"), std::string::npos);
    }
}

TEST(ChainReader, TextFilesReadAsOneRecording) {
    test::TempDir dir;
    const auto paths = WriteChain(dir, ChainParts({30, 20, 25}, ".txt"));
    std::string error;
    auto chain = OpenRecording(paths[1], error);
    ASSERT_TRUE(chain) << error;
    const RecordingInfo& info = chain->Info();
    EXPECT_EQ(info.scanCount, 75);
    EXPECT_EQ(info.chainFiles, paths);
    EXPECT_FALSE(info.incomplete);
    EXPECT_NEAR(info.period, kPeriod, 1e-9);
    ASSERT_EQ(info.markers.size(), 6u);
    EXPECT_EQ(info.markers[2].scan, 30);
    EXPECT_EQ(info.markers[2].comment, "Continued from run.txt at scan 30");
    EXPECT_EQ(info.markers[5].scan, 53);
    ExpectReadsEqualTheParts(*chain, paths, false);
    // Values as the lines hold them: four significant digits of the volts.
    std::vector<double> values(150);
    ASSERT_TRUE(chain->ReadValues(0, 75, values));
    for (int64_t s = 0; s < 75; ++s) {
        for (std::size_t k = 0; k < kChannels; ++k) {
            const double volts = RunSample(s, k) / 3276.8;
            ASSERT_NEAR(values[static_cast<std::size_t>(s) * 2 + k], volts,
                        5e-4 * std::abs(volts) + 1e-9)
                << s;
        }
    }
}

TEST(ChainReader, ABrokenLinkEndsTheChainBeforeItsFile) {
    const struct {
        const char* what;
        std::function<void(Part&)> spoil;
        const char* reason;
    } cases[] = {
        {"wrong scan",
         [](Part& p) { p.markers[0].comment = "Continued from run-0002.wdq at scan 49"; },
         "its first marker is \"Continued from run-0002.wdq at scan 49\", not \"Continued from "
         "run-0002.wdq at scan 50\""},
        {"wrong file", [](Part& p) { p.markers[0].comment = "Continued from run.wdq at scan 50"; },
         "its first marker is \"Continued from run.wdq at scan 50\", not \"Continued from "
         "run-0002.wdq at scan 50\""},
        {"no marker", [](Part& p) { p.markers[0].comment = "Acquisition start"; },
         "its first marker is \"Acquisition start\""},
        {"marker later", [](Part& p) { p.markers[0].scan = 2; },
         "its marker \"Continued from run-0002.wdq at scan 50\" lies at scan 2, not at its "
         "first scan"},
        {"channels", [](Part& p) { p.channels = 3; }, "it has 3 channels, run.wdq has 2"},
        {"names", [](Part& p) { p.names = "Out"; }, "its channel 1 is named \"Out0\", not \"In0\""},
        {"period", [](Part& p) { p.period = 0.001; }, "its scans are 0.001 s apart, not 0.002 s"},
        {"HiRes", [](Part& p) { p.flags = 0x0002; }, "its samples are HiRes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::vector<Part> parts = ChainParts({30, 20, 25}, ".wdq");
        c.spoil(parts[2]);
        const auto paths = WriteChain(dir, parts);
        std::string error;
        auto chain = OpenRecording(paths[0], error);
        ASSERT_TRUE(chain) << error;
        EXPECT_EQ(chain->Info().scanCount, 50);
        EXPECT_EQ(chain->Info().chainFiles,
                  std::vector<std::string>(paths.begin(), paths.end() - 1));
        EXPECT_TRUE(
            HasNote(chain->Info(), std::string("The chain ends before run-0003.wdq: ") + c.reason))
            << testing::PrintToString(chain->Info().notes);
        EXPECT_TRUE(HasNote(chain->Info(), "It is a chain of 2 files"));
        // The file the chain does not reach is read alone.
        auto alone = OpenRecording(paths[2], error);
        ASSERT_TRUE(alone) << error;
        EXPECT_EQ(alone->Info().scanCount, 25);
        EXPECT_TRUE(alone->Info().chainFiles.empty());
    }
    // A broken first link leaves the first file alone, with the note.
    test::TempDir dir;
    std::vector<Part> parts = ChainParts({30, 20}, ".wdq");
    parts[1].markers[0].comment = "Continued from run.wdq at scan 31";
    const auto paths = WriteChain(dir, parts);
    std::string error;
    auto first = OpenRecording(paths[0], error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(first->Info().scanCount, 30);
    EXPECT_TRUE(first->Info().chainFiles.empty());
    EXPECT_TRUE(HasNote(first->Info(), "The chain ends before run-0002.wdq: its first marker"));
    EXPECT_FALSE(HasNote(first->Info(), "It is a chain"));
}

// A marker comment keeps 80 characters: a long name leaves the rest unchecked.
TEST(ChainReader, ALongNameCutsTheMarkerItChecks) {
    test::TempDir dir;
    const std::string stem(60, 'x');
    std::vector<Part> parts = ChainParts({30, 20}, ".wdq");
    parts[0].name = stem + ".wdq";
    parts[1].name = stem + "-0002.wdq";
    const std::string full = "Continued from " + parts[0].name + " at scan 30";
    ASSERT_GT(full.size(), 80u);
    for (const bool cut : {true, false}) {
        parts[1].markers[0].comment = cut ? full.substr(0, 80) : full.substr(0, 79);
        const auto paths = WriteChain(dir, parts);
        std::string error;
        auto chain = OpenRecording(paths[1], error);
        ASSERT_TRUE(chain) << error;
        EXPECT_EQ(chain->Info().chainFiles.size(), cut ? 2u : 0u) << cut;
    }
}

TEST(ChainReader, OneFileIsNoChain) {
    test::TempDir dir;
    const auto paths = WriteChain(dir, ChainParts({30}, ".wdq"));
    std::string error;
    auto whole = OpenRecording(paths[0], error);
    auto alone = OpenRecording(paths[0], error, RecordingScope::ThisFile);
    ASSERT_TRUE(whole && alone) << error;
    EXPECT_TRUE(whole->Info().chainFiles.empty());
    EXPECT_EQ(whole->Info().notes, alone->Info().notes);
    EXPECT_EQ(whole->Info().scanCount, 30);
    // A follow-on file whose chain's first file is gone is read alone too.
    const std::string follow = dir.File("lone-0002.wdq");
    std::vector<Part> parts = ChainParts({30, 20}, ".wdq");
    WriteWdqPart(follow, 30, parts[1]);
    auto lone = OpenRecording(follow, error);
    ASSERT_TRUE(lone) << error;
    EXPECT_EQ(lone->Info().scanCount, 20);
    EXPECT_TRUE(lone->Info().chainFiles.empty());
    // And --only-this-file of a chain's file reads just that file.
    test::TempDir chainDir;
    const auto chain = WriteChain(chainDir, ChainParts({30, 20, 25}, ".wdq"));
    auto middle = OpenRecording(chain[1], error, RecordingScope::ThisFile);
    ASSERT_TRUE(middle) << error;
    EXPECT_EQ(middle->Info().scanCount, 20);
    EXPECT_EQ(middle->Info().markers[0].scan, 0);
    EXPECT_TRUE(middle->Info().chainFiles.empty());
}

TEST(ChainReader, RefreshTakesInAFileThatAppears) {
    test::TempDir dir;
    const std::vector<Part> parts = ChainParts({30, 20, 25}, ".wdq");
    const auto paths = WriteChain(dir, {parts[0], parts[1]});
    std::string error;
    auto chain = OpenRecording(paths[0], error);
    ASSERT_TRUE(chain) << error;
    bool grew = true;
    ASSERT_TRUE(chain->Refresh(grew));
    EXPECT_FALSE(grew);
    EXPECT_EQ(chain->Info().scanCount, 50);
    WriteWdqPart(dir.File(parts[2].name), 50, parts[2]);
    ASSERT_TRUE(chain->Refresh(grew));
    EXPECT_TRUE(grew);
    EXPECT_EQ(chain->Info().scanCount, 75);
    EXPECT_EQ(chain->Info().chainFiles.size(), 3u);
    EXPECT_EQ(chain->Info().markers.back().scan, 53);
    std::vector<int16_t> s(10);
    ASSERT_TRUE(chain->ReadSamples(70, 5, s)) << chain->Error();
    EXPECT_EQ(s[8], RunSample(74, 0));
    ASSERT_TRUE(chain->Refresh(grew));
    EXPECT_FALSE(grew);
}

// A file being recorded may yet be followed: it opens as a chain of itself,
// and a next file does not end the chain while the recorder may still add
// scans to the one before it, which the link counts.
TEST(ChainReader, AFileBeingRecordedWaitsForItsNextFile) {
    test::TempDir dir;
    std::vector<Part> parts = ChainParts({30, 20}, ".wdq");
    const std::string first = dir.File(parts[0].name);
    WriteWdqPart(first, 0, parts[0]);
    const std::vector<uint8_t> bytes = test::ReadBytes(first);
    std::string error;
    // The recorder's lock, as a run holds it on its file.
    auto held = DefaultFileOpener().Create(first, error);
    ASSERT_TRUE(held) << error;
    ASSERT_TRUE(held->Write(bytes.data(), bytes.size()) && held->Flush()) << held->Error();
    auto chain = OpenRecording(first, error);
    ASSERT_TRUE(chain) << error;
    EXPECT_TRUE(chain->Info().beingRecorded);
    EXPECT_EQ(chain->Info().scanCount, 30);
    // Scans the recorder has yet to write make the next file's count wrong.
    parts[1].markers[0].comment = "Continued from run.wdq at scan 35";
    WriteWdqPart(dir.File(parts[1].name), 30, parts[1]);
    bool grew = true;
    ASSERT_TRUE(chain->Refresh(grew)) << chain->Error();
    EXPECT_FALSE(grew);
    EXPECT_EQ(chain->Info().scanCount, 30);
    EXPECT_FALSE(HasNote(chain->Info(), "The chain ends"));
    EXPECT_TRUE(held->Close());
}

TEST(ChainReader, StoredWordsFromSeveralThreadsAtOnce) {
    test::TempDir dir;
    const auto paths = WriteChain(dir, ChainParts({300, 200, 250}, ".wdq"));
    std::string error;
    const auto chain = OpenRecording(paths[0], error);
    ASSERT_TRUE(chain) << error;
    std::vector<std::string> faults(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < faults.size(); ++t) {
        threads.emplace_back([&, t] {
            std::vector<int16_t> words(2 * 120);
            for (int64_t first = static_cast<int64_t>(t); first + 120 <= 750; first += 7) {
                std::string why;
                if (!chain->CopyStoredSamples(first, 120, words, why)) {
                    faults[t] = why;
                    return;
                }
                for (int64_t s = 0; s < 120; ++s) {
                    if (words[static_cast<std::size_t>(s) * 2 + 1] != RunSample(first + s, 1)) {
                        faults[t] = "scan " + std::to_string(first + s) + " differs";
                        return;
                    }
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (const std::string& fault : faults) EXPECT_EQ(fault, "");
}

TEST(ChainReader, NoExportOverAnyFileOfTheChainAndNoMarkersSavedIntoOne) {
    test::TempDir dir;
    const auto paths = WriteChain(dir, ChainParts({30, 20, 25}, ".txt"));
    std::string error;
    const auto chain = OpenRecording(paths[0], error);
    ASSERT_TRUE(chain) << error;
    EXPECT_FALSE(CheckOutputsApart(chain->Info(), ExportFormat::Text, paths[2], error));
    EXPECT_NE(error.find("the recording being exported (" + paths[2] + ")"), std::string::npos)
        << error;
    EXPECT_FALSE(
        CheckOutputsApart(chain->Info(), ExportFormat::Csv, InfoFileName(paths[1]), error));
    EXPECT_NE(error.find("the info file of the recording being exported"), std::string::npos)
        << error;
    const std::string before = test::ReadText(InfoFileName(paths[1]));
    EXPECT_FALSE(SaveRecordingMarkers(paths[1], chain->Info().markers, error));
    EXPECT_NE(error.find("chain of 3 files"), std::string::npos) << error;
    EXPECT_EQ(test::ReadText(InfoFileName(paths[1])), before);
}

}  // namespace
}  // namespace tamix
