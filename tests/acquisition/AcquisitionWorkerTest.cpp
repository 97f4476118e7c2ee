#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "../support/SystemReasons.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/AcquisitionWorker.h"
#include "acquisition/WorkerThread.h"
#include "base/Utf8Text.h"
#include "device/SignalGenerator.h"
#include "device/SimulatedDriver.h"
#include "recording/ChainSink.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingRepair.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

#include "../support/AllocationCounter.h"

namespace tamix {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// A disk with room for `capacity` bytes, written through a buffer as real files
// are: writes are accepted until the buffer must go to the disk, and the
// failure shows at that flush, at a patch or at the close.
class FullDiskOpener final : public FileOpener {
  public:
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) override {
        return DefaultFileOpener().Create(path, error);
    }
    explicit FullDiskOpener(std::size_t capacity) : capacity_(capacity) {}
    std::unique_ptr<RecordingFile> CreateRecording(const std::string& path,
                                                   std::string& error) override {
        auto real = DefaultFileOpener().CreateRecording(path, error);
        if (!real) return nullptr;
        return std::make_unique<File>(std::move(real), capacity_);
    }

  private:
    class File final : public RecordingFile {
      public:
        File(std::unique_ptr<RecordingFile> real, std::size_t capacity)
            : real_(std::move(real)), left_(capacity) {}
        bool TakePlace() override { return real_->TakePlace(); }
        bool Placed() const override { return real_->Placed(); }
        void Discard() override { real_->Discard(); }
        bool Write(const void* data, std::size_t size) override {
            if (failed_) return false;
            const auto* p = static_cast<const uint8_t*>(data);
            buffer_.insert(buffer_.end(), p, p + size);
            return buffer_.size() < kBufferBytes || Flush();
        }
        bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
            Flush();
            buffer_.clear();
            return real_->PatchAt(offset, data, size) && !failed_;
        }
        bool Flush() override {
            if (failed_) return false;
            const std::size_t fits = std::min(buffer_.size(), left_);
            real_->Write(buffer_.data(), fits);
            real_->Flush();
            left_ -= fits;
            failed_ = fits < buffer_.size();
            buffer_.clear();
            return !failed_;
        }
        uint64_t DurableSize() override {
            Flush();
            return real_->DurableSize();
        }
        bool Truncate(uint64_t size) override {
            buffer_.clear();
            return real_->Truncate(size);
        }
        bool Close() override {
            Flush();
            return real_->Close() && !failed_;
        }
        std::string Error() const override { return "No space left on device"; }

      private:
        static constexpr std::size_t kBufferBytes = 4096;
        std::unique_ptr<RecordingFile> real_;
        std::vector<uint8_t> buffer_;
        std::size_t left_;
        bool failed_ = false;
    };
    std::size_t capacity_;
};

// Runs `during` on the worker thread while it creates the output file, that is
// during the start-up, before the run is under way.
class HookedOpener final : public FileOpener {
  public:
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) override {
        return DefaultFileOpener().Create(path, error);
    }
    explicit HookedOpener(std::function<void()> during) : during_(std::move(during)) {}
    std::unique_ptr<RecordingFile> CreateRecording(const std::string& path,
                                                   std::string& error) override {
        during_();
        return DefaultFileOpener().CreateRecording(path, error);
    }

  private:
    std::function<void()> during_;
};

// A disk that holds the worker up once, after `after` bytes, as a slow host
// would: the unit's buffer overflows meanwhile.
class StallingOpener final : public FileOpener {
  public:
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) override {
        return DefaultFileOpener().Create(path, error);
    }
    StallingOpener(std::size_t after, std::chrono::milliseconds stall)
        : after_(after), stall_(stall) {}
    std::unique_ptr<RecordingFile> CreateRecording(const std::string& path,
                                                   std::string& error) override {
        auto real = DefaultFileOpener().CreateRecording(path, error);
        if (!real) return nullptr;
        return std::make_unique<File>(std::move(real), after_, stall_);
    }

  private:
    class File final : public RecordingFile {
      public:
        File(std::unique_ptr<RecordingFile> real, std::size_t after,
             std::chrono::milliseconds stall)
            : real_(std::move(real)), after_(after), stall_(stall) {}
        bool TakePlace() override { return real_->TakePlace(); }
        bool Placed() const override { return real_->Placed(); }
        void Discard() override { real_->Discard(); }
        bool Write(const void* data, std::size_t size) override {
            written_ += size;
            if (!stalled_ && written_ > after_) {
                stalled_ = true;
                std::this_thread::sleep_for(stall_);
            }
            return real_->Write(data, size);
        }
        bool PatchAt(uint64_t offset, const void* data, std::size_t size) override {
            return real_->PatchAt(offset, data, size);
        }
        bool Flush() override { return real_->Flush(); }
        uint64_t DurableSize() override { return real_->DurableSize(); }
        bool Truncate(uint64_t size) override { return real_->Truncate(size); }
        bool Close() override { return real_->Close(); }
        std::string Error() const override { return real_->Error(); }

      private:
        std::unique_ptr<RecordingFile> real_;
        std::size_t after_;
        std::chrono::milliseconds stall_;
        std::size_t written_ = 0;
        bool stalled_ = false;
    };
    std::size_t after_;
    std::chrono::milliseconds stall_;
};

class WorkerTest : public ::testing::Test {
  protected:
    // Silent units get shortened read timeouts so that a test takes milliseconds.
    void Attach(SimulatedUnitOptions unit, std::vector<int> inputs) {
        const double timeoutScale = unit.neverAnswers ? 0.01 : 1.0;
        driver = std::make_unique<SimulatedDriver>(std::vector<SimulatedUnitOptions>{unit},
                                                   timeoutScale);
        setup->link.SetDriver(driver.get());
        setup->channelCount = static_cast<int>(inputs.size());
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            setup->channels[k].inputNumber = inputs[k];
            CopyText(setup->channels[k].name, std::string("In") + kInputLabels[inputs[k]].data(),
                     kNameChars);
        }
    }
    static SimulatedUnitOptions Unit(const char* serial, bool paced = false) {
        SimulatedUnitOptions o;
        o.serial = serial;
        o.paced = paced;
        o.fixedInputs = {0, 1, 2, 3, 4, 5, 6, 7};
        return o;
    }
    void Record(const std::string& name, int fileType, double totalTime) {
        setup->saveToFile = name.empty() ? SaveMode::ScreenOnly : SaveMode::ToFile;
        setup->fileType = FileTypeOf(fileType);
        setup->totalTime = totalTime;
        setup->SetOutputFileName(name);
        setup->ResetMarkers();
    }
    bool Start() { return worker.StartRun(*setup, *opener) == StartResult::Running; }
    void WaitForEnd() {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (setup->workerActive && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_FALSE(setup->workerActive) << "the worker did not finish";
        worker.Join();
    }
    void WaitForScans(int64_t scans) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (setup->scanLoops < scans && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
    }
    test::WdqFile ReadBack(const std::string& path) {
        std::string error;
        auto f = test::ReadWdq(test::ReadBytes(path), error);
        EXPECT_TRUE(f) << error;
        return f ? *f : test::WdqFile{};
    }
    // Every recorded sample is the one the unit meant to send at its instant.
    void ExpectSignals(const test::WdqFile& f, const std::vector<int>& inputs, int modelClass,
                       double period) {
        for (int64_t scan = 0; scan < f.ScanCount(); ++scan) {
            for (std::size_t k = 0; k < inputs.size(); ++k) {
                const int16_t want = SignalGenerator::IntendedSample(
                    inputs[k], static_cast<double>(scan) * period, modelClass);
                ASSERT_EQ(f.samples[scan * inputs.size() + k], RoundWdqSample(want))
                    << "scan " << scan << " input " << inputs[k];
            }
        }
    }

    TempDir dir;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
    std::unique_ptr<SimulatedDriver> driver;
    FileOpener* opener = &DefaultFileOpener();
    WorkerThread worker;
};

TEST_F(WorkerTest, TimedWinDaqRunsHoldWholeCyclesOfTheIntendedSignals) {
    struct Case {
        const char* serial;
        std::vector<int> inputs;
    };
    for (const Case& c :
         {Case{"A30008SN", {0, 2, 5}}, Case{"A30008SG", {1, 4, 7}}, Case{"A3000B6u", {0, 3}},
          Case{"A60089Rz", {0, 1, 2, 3, 4, 5, 6, 7}}, Case{"A4001lsz", {6}}}) {
        SCOPED_TRACE(c.serial);
        Attach(Unit(c.serial), c.inputs);
        const std::string path = dir.File(std::string(c.serial) + ".wdq");
        Record(path, 0, 0.1);
        ASSERT_TRUE(Start());
        WaitForEnd();
        const int64_t limit = setup->sampleLimit;
        EXPECT_EQ(limit, static_cast<int64_t>(0.1 / setup->profile.samplePeriod));
        const test::WdqFile f = ReadBack(path);
        EXPECT_EQ(f.ScanCount(), 8 * (limit / 8 + 1));
        EXPECT_EQ(f.channelCount, static_cast<int>(c.inputs.size()));
        EXPECT_EQ(f.channels.back().name, std::string("In") + kInputLabels[c.inputs.back()].data());
        ExpectSignals(f, c.inputs, setup->profile.modelClass, setup->profile.samplePeriod);
        EXPECT_EQ(setup->Status(), RunStatus::Idle);
        EXPECT_EQ(setup->OutputFileName(), "");
        EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
        EXPECT_EQ(driver->LostScans(0), 0);
        const std::vector<uint8_t> sent = driver->ReceivedBytes(0);
        EXPECT_EQ(sent.back(), 0x1B) << "the run ends with the stop byte";
    }
}

// The run ends with the cycle of eight that holds scan number sampleLimit
// (counted from 0): limits just below, on and just above a cycle boundary
// each fall into a cycle of their own, and a limit of 7 mod 8 must not spill
// into the next one.
TEST_F(WorkerTest, TheTimeLimitEndsTheRunWithTheCycleThatHoldsTheLimitScan) {
    struct Case {
        double totalTime;
        int64_t limit;
        int64_t scans;  // whole cycles of eight, up to the one holding scan `limit`
    };
    constexpr double kPeriod = 0.002;
    const auto at = [](int64_t limit) { return (static_cast<double>(limit) + 0.5) * kPeriod; };
    // 0.030 s at 2 ms: a limit of 15 scans records two cycles (16 scans), not three.
    const Case cases[] = {{0.030, 15, 16},  {at(1), 1, 8},         {at(6), 6, 8},
                          {at(7), 7, 8},    {at(8), 8, 16},        {at(9), 9, 16},
                          {at(14), 14, 16}, {at(16), 16, 24},      {at(23), 23, 24},
                          {at(24), 24, 32}, {at(31), 31, 32},      {at(63), 63, 64},
                          {at(64), 64, 72}, {at(1023), 1023, 1024}};
    for (const Case& c : cases) {
        for (const int type : {0, 1}) {
            SCOPED_TRACE(testing::Message() << c.totalTime << " s, file type " << type);
            Attach(Unit("A30008SN"), {0, 1});
            const std::string path =
                dir.File("limit" + std::to_string(c.limit) + (type == 0 ? ".wdq" : ".dat"));
            Record(path, type, c.totalTime);
            ASSERT_TRUE(Start());
            WaitForEnd();
            ASSERT_EQ(setup->profile.samplePeriod, kPeriod);
            EXPECT_EQ(setup->sampleLimit, c.limit);
            EXPECT_EQ(setup->scanCount, c.scans);
            if (type == 0) {
                EXPECT_EQ(ReadBack(path).ScanCount(), c.scans);
            } else {
                const std::string text = test::ReadText(path);
                EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.scans);
            }
            EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
        }
    }
}

TEST_F(WorkerTest, SixtySecondsAtTwoMillisecondsPatchTheDataSize) {
    Attach(Unit("A30008SN"), {0});
    const std::string path = dir.File("minute.wdq");
    Record(path, 0, 60);
    ASSERT_TRUE(Start());
    WaitForEnd();
    EXPECT_EQ(setup->sampleLimit, 30000);
    const auto bytes = test::ReadBytes(path);
    EXPECT_EQ(bytes[8] | bytes[9] << 8 | bytes[10] << 16 | bytes[11] << 24, 60016);
    EXPECT_EQ(ReadBack(path).ScanCount(), 30008);
}

TEST_F(WorkerTest, TextRunsWriteOneLinePerScanAndAnInfoFile) {
    Attach(Unit("A30008SN"), {0, 6});
    const std::string path = dir.File("run.dat");
    Record(path, 1, 0.05);
    ASSERT_TRUE(Start());
    WaitForEnd();
    std::istringstream text(test::ReadText(path));
    std::string line;
    int64_t lines = 0;
    while (std::getline(text, line)) {
        ASSERT_EQ(line.back(), '\r');
        std::istringstream fields(line);
        double t = 0, v0 = 0, v6 = 0;
        fields >> t >> v0 >> v6;
        EXPECT_NEAR(t, lines * 0.002, 1e-9);
        EXPECT_NEAR(v6, 2.5, 0.005);
        ++lines;
    }
    EXPECT_EQ(lines, 8 * (25 / 8 + 1));
    EXPECT_EQ(test::ReadText(dir.File("run_info.txt")),
              "Channel name: In1\r\nChannel name: InC\r\n"
              "Marker #0: Acquisition start at 0.000 sec\r\n");
}

TEST_F(WorkerTest, MarkersAndPausesDuringAPacedRunReachTheTrailer) {
    Attach(Unit("A30008SN", true), {0});
    const std::string path = dir.File("paced.wdq");
    Record(path, 0, 0.6);
    ASSERT_TRUE(Start());
    WaitForScans(50);
    const int64_t markedAt = setup->scanCount;
    setup->AddMarker(markedAt, "stimulus", 0);
    ASSERT_TRUE(setup->ChangeStatus(RunStatus::Running, RunStatus::Paused));
    const int64_t pausedAt = setup->scanCount;
    std::this_thread::sleep_for(200ms);
    EXPECT_LE(setup->scanCount - pausedAt, 8) << "a pause stops the count within a cycle";
    ASSERT_TRUE(setup->ChangeStatus(RunStatus::Paused, RunStatus::Running));
    WaitForEnd();
    EXPECT_GE(setup->scanLoops - setup->scanCount, 80) << "about 100 scans were paused";
    const test::WdqFile f = ReadBack(path);
    EXPECT_EQ(f.ScanCount(), 8 * (300 / 8 + 1));
    ASSERT_EQ(f.markers.size(), 2u);
    EXPECT_EQ(f.markers[1].scan, markedAt);
    EXPECT_EQ(f.markers[1].comment, "stimulus");
}

// A stop before the first checkpoint records nothing: an earlier recording
// and its info file keep every byte, and no file is left that was not there.
TEST_F(WorkerTest, AStopBeforeTheFirstCheckpointLeavesTheDiskAsItWas) {
    struct Case {
        const char* name;
        int fileType;
        bool earlier;
    };
    for (const Case& c : {Case{"over.wdq", 0, true}, Case{"over.dat", 1, true},
                          Case{"new.wdq", 0, false}, Case{"new.dat", 1, false}}) {
        SCOPED_TRACE(c.name);
        test::TempDir here;
        const std::string path = here.File(c.name);
        const std::string info = InfoFileName(path);
        if (c.earlier) {
            std::ofstream(path, std::ios::binary) << "an earlier recording";
            if (c.fileType == 1) std::ofstream(info, std::ios::binary) << "its channels";
        }
        Attach(Unit("A30008SN", true), {0, 1});
        // The stop arrives while the worker is still starting, so it is certain to
        // fall before the first checkpoint however slow the machine.
        HookedOpener stopping(
            [this] { setup->ChangeStatus(RunStatus::Starting, RunStatus::StopRequested); });
        opener = &stopping;
        Record(path, c.fileType, 100);
        ASSERT_TRUE(Start());
        WaitForEnd();
        EXPECT_EQ(setup->LastRunEnd(), RunEnd::Discarded);
        const std::string report = RunEndReport(*setup);
        EXPECT_NE(report.find("nothing was recorded"), std::string::npos) << report;
        EXPECT_NE(report.find(path), std::string::npos) << report;
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(here.path()))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        std::vector<std::string> before;
        if (c.earlier) before.push_back(c.name);
        if (c.earlier && c.fileType == 1) before.push_back(InfoFileName(c.name));
        std::sort(before.begin(), before.end());
        EXPECT_EQ(left, before);
        if (c.earlier) {
            EXPECT_EQ(test::ReadText(path), "an earlier recording");
        }
        if (c.earlier && c.fileType == 1) {
            EXPECT_EQ(test::ReadText(info), "its channels");
        }
        opener = &DefaultFileOpener();
    }
}

TEST_F(WorkerTest, AStopWhilePausedEndsTheRunAndKeepsWhatWasRecorded) {
    Attach(Unit("A30008SN", true), {0});
    const std::string path = dir.File("paused-stop.wdq");
    Record(path, 0, 100);
    ASSERT_TRUE(Start());
    // Past the first checkpoint, where the recording takes its file's place.
    WaitForScans(520);
    ASSERT_TRUE(setup->ChangeStatus(RunStatus::Running, RunStatus::Paused));
    const int64_t recorded = setup->scanCount;
    ASSERT_TRUE(setup->RequestStop());
    WaitForEnd();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
    const test::WdqFile f = ReadBack(path);
    EXPECT_GE(f.ScanCount(), recorded);
    EXPECT_LE(f.ScanCount(), recorded + 8) << "nothing is recorded after the pause began";
    EXPECT_EQ(f.markers.size(), 1u);
}

TEST_F(WorkerTest, DestroyingARunningWorkerThreadCompletesTheFile) {
    Attach(Unit("A30008SN", true), {0, 1});
    const std::string path = dir.File("destroyed.wdq");
    Record(path, 0, 100);
    {
        WorkerThread owner;
        ASSERT_EQ(owner.StartRun(*setup, *opener), StartResult::Running);
        WaitForScans(520);
    }
    EXPECT_FALSE(setup->workerActive) << "the destructor waits for the worker";
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
    const test::WdqFile f = ReadBack(path);
    EXPECT_GE(f.ScanCount(), 520);
    EXPECT_EQ(f.markers.size(), 1u) << "the trailer was written";
}

TEST_F(WorkerTest, AScreenOnlyRunNeverStopsByItself) {
    Attach(Unit("A30008SN", true), {0});
    Record("", 0, 0.01);
    ASSERT_TRUE(Start());
    WaitForScans(100);
    EXPECT_NE(setup->Status(), RunStatus::Idle);
    EXPECT_GT(setup->displayColumn, 0);
    setup->ChangeStatus(RunStatus::Running, RunStatus::StopRequested);
    WaitForEnd();
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
}

TEST_F(WorkerTest, AnUnpluggedUnitEndsTheRunWithAReadableFile) {
    SimulatedUnitOptions unit = Unit("A30008SN");
    unit.unplugAfterScans = 1003;
    Attach(unit, {0, 1});
    const std::string path = dir.File("unplugged.wdq");
    Record(path, 0, 1000);
    ASSERT_TRUE(Start());
    WaitForEnd();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::ConnectionLost);
    const test::WdqFile f = ReadBack(path);
    EXPECT_EQ(f.ScanCount(), 1000) << "the incomplete last batch is dropped";
    ExpectSignals(f, {0, 1}, 1, 0.002);
    EXPECT_EQ(f.markers.size(), 1u);
    const std::string report = RunEndReport(*setup);
    EXPECT_NE(report.find("Connection to the data acquisition system was lost."),
              std::string::npos);
    EXPECT_NE(report.find("00:00:02"), std::string::npos) << report;
}

TEST_F(WorkerTest, AFullDiskEndsTheRunWithWholeRecordsAndKeepsTheMarkers) {
    // Room for the header and 1000 scans of 4 channels and part of the next
    // scan, or for part of a line of a text recording.
    struct Case {
        const char* name;
        int fileType;
        std::size_t capacity;
    };
    const Case cases[] = {
        {"full0.wdq", 0, 1156 + 8 * 1000},
        {"full3.wdq", 0, 1156 + 8 * 1000 + 3},
        {"full7.wdq", 0, 1156 + 8 * 1000 + 7},
        {"full-a.dat", 1, 30000},
        {"full-b.dat", 1, 30017},
    };
    int cutInsideARecord = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attach(Unit("A30008SN"), {0, 1, 2, 3});
        FullDiskOpener full(c.capacity);
        opener = &full;
        const std::string path = dir.File(c.name);
        Record(path, c.fileType, 1000);
        ASSERT_TRUE(setup->AddMarker(5, "before the disk filled", 0));
        ASSERT_TRUE(Start());
        WaitForEnd();
        EXPECT_EQ(setup->LastRunEnd(), RunEnd::WriteFailed);
        const std::string report = RunEndReport(*setup);
        EXPECT_NE(report.find(path), std::string::npos) << report;
        EXPECT_NE(report.find("No space left on device"), std::string::npos) << report;
        EXPECT_NE(report.find("Its markers are kept in " + path + ".markers"), std::string::npos)
            << report;
        const auto bytes = test::ReadBytes(path);
        ASSERT_LE(bytes.size(), c.capacity);
        int64_t records = 0;
        if (c.fileType == 0) {
            // Whole scans only, and the header counts them.
            ASSERT_EQ(bytes.size(), 1156u + 8000u);
            const uint32_t dataSize = bytes[8] | bytes[9] << 8 | bytes[10] << 16 | bytes[11] << 24;
            EXPECT_EQ(dataSize, 8000u);
            records = 1000;
        } else {
            // Whole lines only: every line holds the time and four values.
            const std::string text(bytes.begin(), bytes.end());
            ASSERT_TRUE(text.ends_with("\r\n"));
            for (std::size_t at = 0; at < text.size(); ++records) {
                const std::size_t end = text.find("\r\n", at);
                std::array<double, 6> fields{};
                EXPECT_EQ(ParseTextLine(std::string_view(text).substr(at, end + 2 - at), fields), 5)
                    << "line " << records;
                at = end + 2;
            }
            EXPECT_LT(c.capacity - bytes.size(), kMaxTextLine) << "no whole line was dropped";
        }
        if (bytes.size() < c.capacity) ++cutInsideARecord;
        EXPECT_EQ(setup->runEndScans, records) << "the time reported is the time kept";

        // The markers wait in the journal for the repair, once there is room.
        EXPECT_TRUE(std::filesystem::exists(path + ".markers"));
        const RepairReport repaired = RepairRecording(path);
        ASSERT_EQ(repaired.outcome, RepairOutcome::Repaired) << repaired.error;
        std::string error;
        const auto reader = OpenRecording(path, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_FALSE(reader->Info().incomplete);
        EXPECT_EQ(reader->Info().scanCount, records);
        ASSERT_EQ(reader->Info().markers.size(), 2u);
        EXPECT_EQ(reader->Info().markers[1].scan, 5);
        EXPECT_EQ(reader->Info().markers[1].comment, "before the disk filled");
        EXPECT_FALSE(std::filesystem::exists(path + ".markers"));
    }
    EXPECT_GE(cutInsideARecord, 3) << "the disk filled inside a record";
}

// A disk that fills before the first checkpoint: the recording never took the
// earlier file's place, so that file is whole, and the report says so.
TEST_F(WorkerTest, AFullDiskBeforeTheFirstCheckpointLeavesTheEarlierFile) {
    Attach(Unit("A30008SN"), {0, 1, 2, 3});
    FullDiskOpener full(1156 + 8 * 100);
    opener = &full;
    const std::string path = dir.File("earlier.wdq");
    std::ofstream(path, std::ios::binary) << "an earlier recording";
    Record(path, 0, 1000);
    ASSERT_TRUE(Start());
    WaitForEnd();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::WriteFailed);
    const std::string report = RunEndReport(*setup);
    EXPECT_NE(report.find("No space left on device"), std::string::npos) << report;
    EXPECT_NE(report.find("Nothing was recorded: " + path), std::string::npos) << report;
    EXPECT_EQ(test::ReadText(path), "an earlier recording");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(WorkerTest, AFileThatCannotBeCreatedEndsTheStartInsteadOfAScreenOnlyRun) {
    Attach(Unit("A30008SN", true), {0});
    const std::string path = dir.File("no-such-folder/run.wdq");
    Record(path, 0, 1);
    EXPECT_EQ(worker.StartRun(*setup, *opener), StartResult::CreateFailed);
    WaitForEnd();
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::CreateFailed);
    const std::string report = RunEndReport(*setup);
    EXPECT_NE(report.find(path), std::string::npos) << report;
    EXPECT_NE(report.find(test::MissingFolderReason()), std::string::npos) << report;
    EXPECT_EQ(setup->scanLoops, 0) << "no scan was streamed";
}

TEST_F(WorkerTest, AnInfoFileThatCannotBeWrittenRefusesTheStart) {
    Attach(Unit("A30008SN"), {0});
    const std::string path = dir.File("run.dat");
    // A folder where the info file should go makes its creation fail.
    std::filesystem::create_directory(dir.File("run_info.txt"));
    Record(path, 1, 0.1);
    EXPECT_EQ(worker.StartRun(*setup, *opener), StartResult::CreateFailed);
    WaitForEnd();
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::CreateFailed);
    const std::string report = RunEndReport(*setup);
    EXPECT_NE(report.find(dir.File("run_info.txt")), std::string::npos) << report;
    EXPECT_NE(report.find(test::FolderInTheWayReason()), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(path)) << "no data file without its info file";
    const std::vector<uint8_t> sent = driver->ReceivedBytes(0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'S'), 0) << "the unit was never started";
}

TEST_F(WorkerTest, ARefusedOpenReportsNoUnitAndWritesNothing) {
    SimulatedUnitOptions unit = Unit("A30008SN");
    unit.heldByOther = true;
    Attach(unit, {0});
    const std::string path = dir.File("never.wdq");
    Record(path, 0, 1);
    setup->displayColumn = 17;
    EXPECT_FALSE(Start());
    WaitForEnd();
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
    EXPECT_EQ(setup->displayColumn, 0) << "a new sweep starts even when no unit answers";
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(setup->OutputFileName(), path) << "the failed start keeps the dialog's choices";
}

TEST_F(WorkerTest, NoChannelStartsNoRun) {
    Attach(Unit("A30008SN"), {});
    Record(dir.File("none.wdq"), 0, 1);
    EXPECT_FALSE(Start());
    WaitForEnd();
    EXPECT_EQ(setup->Status(), RunStatus::Idle);
    EXPECT_TRUE(driver->ReceivedBytes(0).empty());
}

TEST_F(WorkerTest, ASilentUnitIsNoUnitAndCreatesNothing) {
    SimulatedUnitOptions unit = Unit("A30008SN");
    unit.neverAnswers = true;
    Attach(unit, {0});
    const std::string path = dir.File("silent.wdq");
    Record(path, 0, 1);
    EXPECT_EQ(worker.StartRun(*setup, *opener), StartResult::NoUnit);
    WaitForEnd();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(setup->scanLoops, 0);
}

TEST_F(WorkerTest, ScansTheUnitCouldNotKeepAreFoundMarkedAndReported) {
    // Eight channels: the unit's 4 KiB hold 256 scans, half a second.
    Attach(Unit("A30008SN", true), {0, 1, 2, 3, 4, 5, 6, 7});
    StallingOpener slow(1156 + 16 * 600, 1200ms);
    opener = &slow;
    const std::string path = dir.File("gap.wdq");
    Record(path, 0, 4);
    ASSERT_TRUE(Start());
    WaitForEnd();
    const int64_t dropped = driver->LostScans(0);
    ASSERT_GT(dropped, 200) << "the stall should overflow the unit";
    EXPECT_NEAR(static_cast<double>(setup->lostScans), static_cast<double>(dropped), 10);
    EXPECT_EQ(setup->LastRunEnd(), RunEnd::Completed);
    EXPECT_NE(RunEndReport(*setup).find("scans were lost"), std::string::npos);
    const test::WdqFile f = ReadBack(path);
    ASSERT_EQ(f.markers.size(), 2u);
    EXPECT_EQ(f.markers[1].comment,
              "Gap: about " + std::to_string(setup->lostScans.load()) + " scans lost");
    // The unit dropped its newest scans once its buffer was full.
    EXPECT_NEAR(static_cast<double>(f.markers[1].scan), 600 + 256, 64);
}

TEST_F(WorkerTest, TheSampleLoopAllocatesNothingPerScan) {
    if (!test::AllocationCountingAvailable()) GTEST_SKIP() << "sanitizer build";
    const auto allocationsFor = [this](double seconds) {
        Attach(Unit("A30008SN"), {0, 1, 2, 3});
        // A new file each time: replacing an earlier one costs its own few.
        Record(dir.File("alloc" + std::to_string(seconds) + ".dat"), 1, seconds);
        test::StartCountingAllocations();
        EXPECT_TRUE(Start());
        WaitForEnd();
        return test::StopCountingAllocations();
    };
    // Both runs pass a checkpoint: the first one opens the markers journal.
    const long shortRun = allocationsFor(1.5);
    const long longRun = allocationsFor(20);
    EXPECT_EQ(longRun, shortRun) << "10000 scans more cost allocations";
}

TEST(ScanLimitTest, AFullWinDaqFileNoLongerShortensTheRun) {
    EXPECT_EQ(EffectiveScanLimit(60, 0.002, FileType::WinDaq, 1), 30000);
    EXPECT_EQ(EffectiveScanLimit(6000 * 3600.0, 0.001, FileType::Text, 8), 21'600'000'000LL);
    EXPECT_EQ(EffectiveScanLimit(6000 * 3600.0, 0.001, FileType::WinDaq, 8), 21'600'000'000LL);
    // Each file of its chain stays within the 32-bit size field and below 2^30 scans.
    EXPECT_EQ(WdqFileScans(8, 0xFFFFFFFFu), 0xFFFFFFFFLL / 16);
    EXPECT_EQ(WdqFileScans(1, 0xFFFFFFFFu), int64_t{1} << 30);
    EXPECT_EQ(WdqFileScans(2, 2400), 600);
    EXPECT_EQ(WdqFileScans(3, 2400), 400);
}

}  // namespace
}  // namespace tamix
