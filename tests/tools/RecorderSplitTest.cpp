// Split recordings end to end: tamix-record on the simulated KPR-T310 with
// --split, and a WinDaq run whose file fills up (the limit lowered through
// the test hook). Each file is read on its own; together their scans must be
// the unit's intended stream, scan for scan, every typed marker must lie in
// the file that holds its scan, and each follow-on file must say where it
// continues.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/RunProgram.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "device/SignalGenerator.h"
#include "recording/ChainNames.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPeriod = 0.002;  // the simulated KPR-T310
const std::vector<int> kInputs = {0, 1};

int16_t Intended(int64_t scan, std::size_t k) {
    return SignalGenerator::IntendedSample(kInputs[k], static_cast<double>(scan) * kPeriod, 1);
}

struct Marker {
    std::string comment;
    int64_t scan = 0;  // within its file
};

// One file of the chain as read on its own.
struct Piece {
    std::string name;
    int64_t scans = 0;
    std::vector<Marker> markers;
    uint32_t creationTime = 0;
};

// Reads a WinDaq file and checks its scans against the stream from `first` on.
Piece ReadWdqPiece(const std::string& path, int64_t first) {
    Piece p;
    p.name = path;
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(path), error);
    EXPECT_TRUE(f) << path << ": " << error;
    if (!f) return p;
    p.scans = f->ScanCount();
    p.creationTime = f->creationTime;
    for (int64_t i = 0; i < p.scans; ++i) {
        for (std::size_t k = 0; k < kInputs.size(); ++k) {
            if (f->samples[i * kInputs.size() + k] != RoundWdqSample(Intended(first + i, k))) {
                ADD_FAILURE() << path << ": scan " << i << " is not the stream's scan "
                              << first + i;
                return p;
            }
        }
    }
    for (const test::WdqMarker& m : f->markers) p.markers.push_back({m.comment, m.scan});
    return p;
}

// Reads a text recording and its info file, its lines checked as above.
Piece ReadTextPiece(const std::string& path, int64_t first) {
    Piece p;
    p.name = path;
    const std::string text = test::ReadText(path);
    std::array<ChannelInfo, 2> channels{};
    std::array<char, kMaxTextLine> line{};
    std::size_t at = 0;
    while (at < text.size()) {
        const std::array<int16_t, 2> samples = {Intended(first + p.scans, 0),
                                                Intended(first + p.scans, 1)};
        const std::size_t len = FormatTextLine(line.data(), p.scans, kPeriod, samples, channels);
        if (text.compare(at, len, line.data(), len) != 0) {
            ADD_FAILURE() << path << ": line " << p.scans << " is not the stream's scan "
                          << first + p.scans;
            return p;
        }
        at += len;
        ++p.scans;
    }
    // "Marker #m: COMMENT at T sec"
    const std::string info = test::ReadText(InfoFileName(path));
    for (std::size_t m = info.find("Marker #"); m != std::string::npos;
         m = info.find("Marker #", m + 1)) {
        const std::string entry = info.substr(m, info.find("\r\n", m) - m);
        const std::size_t colon = entry.find(": ");
        const std::size_t time = entry.rfind(" at ");
        p.markers.push_back({entry.substr(colon + 2, time - colon - 2),
                             std::llround(std::stod(entry.substr(time + 4)) / kPeriod)});
    }
    return p;
}

// The files of the chain of `target`, each checked against its part of the stream.
std::vector<Piece> ReadChain(const std::string& target, FileType type) {
    std::vector<Piece> chain;
    int64_t first = 0;
    for (int64_t k = 1;; ++k) {
        const std::string name = ChainFileName(target, type, k);
        if (!fs::exists(name)) break;
        chain.push_back(type == FileType::WinDaq ? ReadWdqPiece(name, first)
                                                 : ReadTextPiece(name, first));
        first += chain.back().scans;
    }
    return chain;
}

// Each follow-on file begins with where it continues; no file holds a
// marker beyond its scans; the typed markers come in the order typed.
void ExpectChainMarkers(const std::vector<Piece>& chain, int typed) {
    int64_t first = 0;
    int next = 0;
    for (std::size_t k = 0; k < chain.size(); ++k) {
        const Piece& p = chain[k];
        ASSERT_FALSE(p.markers.empty()) << p.name;
        if (k == 0) {
            EXPECT_EQ(p.markers[0].comment, "Acquisition start");
        } else {
            EXPECT_EQ(p.markers[0].comment, "Continued from " +
                                                fs::path(chain[k - 1].name).filename().string() +
                                                " at scan " + std::to_string(first));
            EXPECT_EQ(p.markers[0].scan, 0) << p.name;
        }
        for (std::size_t m = 1; m < p.markers.size(); ++m) {
            const Marker& marker = p.markers[m];
            EXPECT_NE(marker.comment.find("Continued"), 0u) << p.name;
            EXPECT_GE(marker.scan, 0) << p.name << ": " << marker.comment;
            EXPECT_LT(marker.scan, p.scans) << p.name << ": " << marker.comment;
            EXPECT_EQ(marker.comment, "typed " + std::to_string(next)) << p.name;
            ++next;
        }
        first += p.scans;
    }
    EXPECT_EQ(next, typed);
}

class SplitTest : public ::testing::Test {
  protected:
    // tamix-record with a standard input that the test types into.
    struct Run {
        int exit = -1;
        std::string err;
    };
    Run Record(const std::string& out, std::vector<std::string> extra, int typed) {
        const std::string fifo = dir.File("stdin" + std::to_string(runs_++));
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        // Open for reading too, so that neither side waits for the other.
        const int typing = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        std::vector<std::string> args = {TAMIX_RECORD_PATH, "--quiet",    "--profile",
                                         dir.File("p.INI"), "--simulate", "A30008SN",
                                         "--inputs",        "1,2"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(out);
        const std::string errors = dir.File("rec.err");
        Run r;
        {
            test::ChildProcess rec(args, fifo, errors);
            // Markers a second or more apart once scans are on disk, so that
            // they fall into several files.
            const auto deadline = Clock::now() + 30s;
            std::error_code ec;
            while (Clock::now() < deadline && !(fs::exists(out, ec) && fs::file_size(out, ec) > 0))
                std::this_thread::sleep_for(5ms);
            for (int m = 0; m < typed; ++m) {
                std::this_thread::sleep_for(1100ms);
                const std::string line = "typed " + std::to_string(m) + "\n";
                EXPECT_EQ(::write(typing, line.data(), line.size()),
                          static_cast<ssize_t>(line.size()));
            }
            r.exit = rec.ExitCode();
        }
        ::close(typing);
        r.err = test::ReadText(errors);
        return r;
    }

    test::TempDir dir;
    int runs_ = 0;
};

TEST_F(SplitTest, SplitRunsGiveFilesThatTogetherAreTheStream) {
    for (const FileType type : {FileType::WinDaq, FileType::Text}) {
        const bool wdq = type == FileType::WinDaq;
        const std::string out = dir.File(wdq ? "split.wdq" : "split.dat");
        SCOPED_TRACE(out);
        // 6.5 s at 2 ms: three files of 1000 scans and a fourth with the rest.
        const Run r =
            Record(out, {"--format", wdq ? "wdq" : "text", "--split", "2s", "--time", "6.5"}, 4);
        ASSERT_EQ(r.exit, 0) << r.err;
        const std::vector<Piece> chain = ReadChain(out, type);
        ASSERT_EQ(chain.size(), 4u);
        int64_t total = 0;
        for (std::size_t k = 0; k < chain.size(); ++k) {
            if (k + 1 < chain.size()) {
                EXPECT_EQ(chain[k].scans, 1000) << chain[k].name;
            }
            total += chain[k].scans;
            EXPECT_FALSE(fs::exists(chain[k].name + ".markers")) << chain[k].name;
            // Each header has the time of its own first scan, about 2 s after the last one's.
            if (wdq && k > 0) {
                const int64_t step =
                    int64_t{chain[k].creationTime} - int64_t{chain[k - 1].creationTime};
                EXPECT_GE(step, 1) << chain[k].name;
                EXPECT_LE(step, 3) << chain[k].name;
            }
        }
        EXPECT_GE(total, 3250);
        EXPECT_LE(total, 3258);
        ExpectChainMarkers(chain, 4);
        // The end report lists the files with their scans.
        EXPECT_NE(r.err.find("The recording is in 4 files:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(fs::path(chain[1].name).filename().string() + ": 1000 scans"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(SplitTest, AFullWinDaqFileGoesOnInTheNextFile) {
    // The test hook: 2400 bytes of samples, 600 scans of two channels.
    ::setenv("TAMIX_WDQ_LIMIT_BYTES", "2400", 1);
    const std::string out = dir.File("full.wdq");
    const Run r = Record(out, {"--time", "2"}, 0);
    ::unsetenv("TAMIX_WDQ_LIMIT_BYTES");
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::vector<Piece> chain = ReadChain(out, FileType::WinDaq);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].scans, 600);
    EXPECT_GE(chain[0].scans + chain[1].scans, 1000);
    ExpectChainMarkers(chain, 0);
    EXPECT_NE(
        r.err.find("full.wdq is full: the recording goes on in " + dir.File("full-0002.wdq") + "."),
        std::string::npos)
        << r.err;
}

TEST_F(SplitTest, AKilledSplitRunLeavesTheEarlierFilesCompleteAndTheLastRepairable) {
    const std::string out = dir.File("killed.wdq");
    const std::string third = ChainFileName(out, FileType::WinDaq, 3);
    {
        test::ChildProcess rec(
            {TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"), "--simulate", "A30008SN",
             "--inputs", "1,2", "--split", "2s", "--time", "60", out},
            "/dev/null", dir.File("rec.err"));
        // The first file is completed a few seconds after its last scan: its
        // journal is gone once the third file holds scans.
        const auto deadline = Clock::now() + 40s;
        std::error_code ec;
        while (Clock::now() < deadline &&
               !(fs::exists(third, ec) && fs::file_size(third, ec) > 1156 + 400 &&
                 fs::exists(out, ec) && !fs::exists(out + ".markers", ec))) {
            std::this_thread::sleep_for(5ms);
        }
        rec.Signal(SIGKILL);
        rec.ExitCode();
    }
    const Piece first = ReadWdqPiece(out, 0);
    EXPECT_EQ(first.scans, 1000);
    ASSERT_EQ(first.markers.size(), 1u);
    EXPECT_EQ(first.markers[0].comment, "Acquisition start");
    // The files with scans that were not completed yet keep their journals,
    // and the repair makes each whole with its Continued-from marker.
    int64_t start = 1000;
    int repaired = 0;
    for (int64_t k = 2;; ++k) {
        const std::string name = ChainFileName(out, FileType::WinDaq, k);
        if (!fs::exists(name)) break;
        if (!fs::exists(name + ".markers")) {
            // Complete, or the next file made ahead (or switched to in the
            // last second), which holds no scan on disk yet.
            const Piece done = ReadWdqPiece(name, start);
            if (done.scans == 0) {
                EXPECT_FALSE(fs::exists(ChainFileName(out, FileType::WinDaq, k + 1))) << name;
                break;
            }
            EXPECT_EQ(done.scans, 1000) << name;
            start += done.scans;
            continue;
        }
        const test::ProgramResult r = test::RunProgram({TAMIX_FILE_PATH, "repair", name});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const Piece whole = ReadWdqPiece(name, start);
        ASSERT_FALSE(whole.markers.empty()) << name;
        EXPECT_EQ(whole.markers[0].comment,
                  "Continued from " + ChainFileName("killed.wdq", FileType::WinDaq, k - 1) +
                      " at scan " + std::to_string(start));
        EXPECT_FALSE(fs::exists(name + ".markers")) << name;
        start += whole.scans;
        ++repaired;
        if (whole.scans == 0) break;  // the next file, made ahead
    }
    EXPECT_GE(repaired, 1);
    EXPECT_GE(start, 3000);
}

}  // namespace
}  // namespace tamix
