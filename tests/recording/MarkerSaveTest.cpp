// Markers edited after a run and saved into the finished recording: read back
// by the project's readers, an independent WinDaq reader and tamix-file; the
// samples and permissions kept; every refusal and failure leaving the old
// file as it was, and a save killed at any moment leaving one whole file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../support/RunProgram.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/MarkerSave.h"
#include "recording/MarkerTableOf.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Markers = std::vector<RecordingMarker>;

constexpr int64_t kCreated = 1700000000;
constexpr double kPeriod = 0.002;

RecordingMarker M(int64_t scan, std::string comment) {
    RecordingMarker m;
    m.scan = scan;
    m.comment = std::move(comment);
    return m;
}

std::array<ChannelInfo, 2> Channels() {
    std::array<ChannelInfo, 2> channels{};
    CopyText(channels[0].name, "Druck µbar", kNameChars);
    CopyText(channels[1].name, "Temp °C", kNameChars);
    CopyText(channels[1].unit, "  mV", kUnitChars);
    channels[1].valueAt1V = 2.5;
    channels[1].valueAt0V = -1;
    return channels;
}

// A sample of scan `s`, channel `k`: varied, so that a shifted copy shows.
int16_t Sample(int64_t s, int k) {
    return static_cast<int16_t>((s * 7919 + k * 104729) % 60000 - 30000);
}

// A recording made by the project's writers, with `markers`.
void WriteWdqRecording(const std::string& path, int64_t scans, const Markers& markers) {
    const auto channels = Channels();
    std::string error;
    DiskFileOpener opener;
    auto file = opener.Create(path, error);
    ASSERT_TRUE(file) << error;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, 0, 2, kPeriod, channels, kCreated);
    ASSERT_TRUE(file->Write(header.data(), header.size()));
    for (int64_t s = 0; s < scans; ++s) {
        uint8_t scan[4];
        PutWdqSample(scan, Sample(s, 0));
        PutWdqSample(scan + 2, Sample(s, 1));
        ASSERT_TRUE(file->Write(scan, sizeof scan));
    }
    const auto table = MarkerTableOf(markers, kCreated);
    ASSERT_TRUE(WriteWdqTrailer(*file, *table, table->markerCount.load(), channels, kCreated));
    ASSERT_TRUE(PatchWdqDataSize(*file, static_cast<uint64_t>(scans) * 4));
    ASSERT_TRUE(file->Close());
}

void WriteTextRecording(const std::string& path, int64_t scans, const Markers& markers) {
    const auto channels = Channels();
    std::string error;
    DiskFileOpener opener;
    auto data = opener.Create(path, error);
    ASSERT_TRUE(data) << error;
    for (int64_t s = 0; s < scans; ++s) {
        char line[kMaxTextLine];
        const std::array<int16_t, 2> samples{Sample(s, 0), Sample(s, 1)};
        ASSERT_TRUE(data->Write(line, FormatTextLine(line, s, kPeriod, samples, channels)));
    }
    ASSERT_TRUE(data->Close());
    auto info = opener.Create(InfoFileName(path), error);
    ASSERT_TRUE(info) << error;
    const auto table = MarkerTableOf(markers, 0);
    ASSERT_TRUE(WriteInfoFile(*info, channels, *table, table->markerCount.load(), kPeriod));
    ASSERT_TRUE(info->Close());
}

void WriteRecording(const std::string& path, int64_t scans, const Markers& markers) {
    if (path.ends_with(".wdq")) {
        WriteWdqRecording(path, scans, markers);
    } else {
        WriteTextRecording(path, scans, markers);
    }
}

// Every file in `folder` with its bytes.
std::map<std::string, std::vector<uint8_t>> Contents(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = test::ReadBytes(entry.path().string());
    }
    return files;
}

struct Marker {
    int64_t scan;
    std::string comment;
    bool operator==(const Marker&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Marker& m) {
    return out << m.scan << " \"" << m.comment << "\"";
}

std::vector<Marker> Plain(const Markers& markers) {
    std::vector<Marker> plain;
    for (const RecordingMarker& m : markers) plain.push_back({m.scan, m.comment});
    return plain;
}

// The markers as the project's own reader gives them.
std::vector<Marker> ReadMarkers(const std::string& path) {
    std::string error;
    auto reader = OpenRecording(path, error);
    EXPECT_TRUE(reader) << error;
    if (!reader) return {};
    EXPECT_FALSE(reader->Info().incomplete) << path;
    return Plain(reader->Info().markers);
}

// The markers as an independent WinDaq reader decodes them (Windows-1252
// comments turned back into UTF-8 for the comparison).
std::vector<Marker> IndependentMarkers(const std::string& path) {
    std::string error;
    const auto file = test::ReadWdq(test::ReadBytes(path), error);
    EXPECT_TRUE(file) << error;
    std::vector<Marker> markers;
    if (!file) return markers;
    for (const test::WdqMarker& m : file->markers) {
        std::string utf8;
        for (const char c : m.comment) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                utf8.push_back(c);
            } else {
                // Latin-1 part of Windows-1252, all this test's comments use.
                utf8.push_back(static_cast<char>(0xC0 | (b >> 6)));
                utf8.push_back(static_cast<char>(0x80 | (b & 0x3F)));
            }
        }
        markers.push_back({m.scan, utf8});
    }
    return markers;
}

std::vector<Marker> InfoJsonMarkers(const std::string& path) {
    const test::ProgramResult r = test::RunProgram({TAMIX_FILE_PATH, "info", path, "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const Json j = Json::parse(r.out, nullptr, false);
    std::vector<Marker> markers;
    if (!j.is_object()) return markers;
    for (const Json& m : j["markers"]) {
        markers.push_back({m["scan"].get<int64_t>(), m["comment"].get<std::string>()});
    }
    return markers;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, std::size_t from, std::size_t to) {
    return {b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to)};
}

// The sample bytes of a WinDaq file: from its header's end over its data size.
std::vector<uint8_t> WdqSamples(const std::vector<uint8_t>& b) {
    const std::size_t dataBytes = b[8] | (b[9] << 8) | (b[10] << 16) | (b[11] << 24);
    return Slice(b, kWdqHeaderBytes, kWdqHeaderBytes + dataBytes);
}

// The event-area size the trailer of `markers` takes, worked out by hand: a
// marker at scan 0 is a pointer, a time stamp and a comment pointer, any other
// a pointer and a comment pointer.
uint32_t EventBytes(const Markers& markers) {
    uint32_t bytes = 0;
    for (const RecordingMarker& m : markers) bytes += m.scan == 0 ? 12 : 8;
    return bytes;
}

const Markers kOriginal = {M(0, "Acquisition start"), M(100, "first"), M(200, "second"),
                           M(300, "third")};
RecordingMarker Stamped(RecordingMarker m, uint32_t stamp) {
    m.timeStamp = stamp;
    return m;
}

// The original with one comment edited, one marker deleted and three added,
// one of them at scan 0, which a WinDaq file stores with its time stamp.
const Markers kEdited = {M(0, "Acquisition start"),
                         M(100, "Ventil auf, 3 µl/s"),
                         M(300, "third"),
                         M(50, "early"),
                         M(999, ""),
                         Stamped(M(0, "at the start"), 7)};

TEST(MarkerSave, EditedMarkersReadBackAndTheSamplesStay) {
    for (const char* name : {"run.wdq", "run.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string path = dir.File(name);
        WriteRecording(path, 1000, kOriginal);
        const bool wdq = path.ends_with(".wdq");
        const std::string info = InfoFileName(path);
        fs::permissions(path, static_cast<fs::perms>(0640));
        if (!wdq) fs::permissions(info, static_cast<fs::perms>(0604));
        // A text recording's start time is estimated from the data file's last change.
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(3));
        const auto changed = fs::last_write_time(path);
        const auto before = Contents(dir.path());

        std::string error;
        ASSERT_TRUE(SaveRecordingMarkers(path, kEdited, error)) << error;
        EXPECT_EQ(error, "");
        EXPECT_EQ(ReadMarkers(path), Plain(kEdited));
        EXPECT_EQ(InfoJsonMarkers(path), Plain(kEdited));
        EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0640));
        const auto after = Contents(dir.path());
        ASSERT_EQ(after.size(), before.size()) << "no file left beside the recording";
        if (wdq) {
            const std::vector<uint8_t>& old = before.at(name);
            const std::vector<uint8_t>& now = after.at(name);
            EXPECT_EQ(IndependentMarkers(path), Plain(kEdited));
            ASSERT_GE(now.size(), kWdqHeaderBytes);
            // The header as it was, but for the event-area size.
            EXPECT_EQ(Slice(now, 0, 12), Slice(old, 0, 12));
            EXPECT_EQ(Slice(now, 16, kWdqHeaderBytes), Slice(old, 16, kWdqHeaderBytes));
            EXPECT_EQ(WdqSamples(now), WdqSamples(old));
            EXPECT_EQ(WdqSamples(now).size(), 4000u);
            std::string why;
            const auto file = test::ReadWdq(now, why);
            ASSERT_TRUE(file) << why;
            EXPECT_EQ(file->eventBytes, EventBytes(kEdited));
            EXPECT_EQ(file->markers.back().timeStamp, std::optional<uint32_t>(7));
            auto reader = OpenRecording(path, why);
            ASSERT_TRUE(reader) << why;
            EXPECT_EQ(reader->Info().markers.back().timeStamp, std::optional<uint32_t>(7));
            EXPECT_EQ(file->channels[0].name,
                      "Druck \xB5"
                      "bar");
            EXPECT_EQ(file->channels[1].name,
                      "Temp \xB0"
                      "C");
        } else {
            EXPECT_EQ(after.at(name), before.at(name));
            EXPECT_EQ(fs::last_write_time(path), changed);
            EXPECT_EQ(fs::status(info).permissions(), static_cast<fs::perms>(0604));
            EXPECT_EQ(test::ReadText(info),
                      "Channel name: Druck µbar\r\nChannel name: Temp °C\r\n"
                      "Marker #0: Acquisition start at 0.000 sec\r\n"
                      "Marker #1: Ventil auf, 3 µl/s at 0.200 sec\r\n"
                      "Marker #2: third at 0.600 sec\r\n"
                      "Marker #3: early at 0.100 sec\r\n"
                      "Marker #4:  at 1.998 sec\r\n"
                      "Marker #5: at the start at 0.000 sec\r\n");
        }

        // Saving the original markers back gives the original files.
        ASSERT_TRUE(SaveRecordingMarkers(path, kOriginal, error)) << error;
        EXPECT_EQ(Contents(dir.path()), before);
    }
}

// Recordings as tamix-record writes them, of either format.
TEST(MarkerSave, RecordingsOfTheRecorderTakeEditedMarkers) {
    for (const char* name : {"sim.wdq", "sim.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string path = dir.File(name);
        const test::ProgramResult r =
            test::RunProgram({TAMIX_RECORD_PATH, "--simulate", "--unpaced", "--quiet", "--profile",
                              dir.File("p.INI"), "--inputs", "1,A", "--time", "1", path});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        fs::remove(dir.File("p.INI"));
        std::string error;
        auto reader = OpenRecording(path, error);
        ASSERT_TRUE(reader) << error;
        const int64_t scans = reader->Info().scanCount;
        std::vector<int16_t> samples(static_cast<std::size_t>(scans) * 2);
        ASSERT_TRUE(reader->ReadSamples(0, scans, samples));
        Markers markers = reader->Info().markers;
        ASSERT_FALSE(markers.empty());
        reader.reset();
        const auto before = test::ReadBytes(path);

        markers.front().comment = "Start, edited";
        markers.push_back(M(scans - 1, "last scan"));
        markers.push_back(M(scans / 2, "halfway"));
        ASSERT_TRUE(SaveRecordingMarkers(path, markers, error)) << error;
        EXPECT_EQ(ReadMarkers(path), Plain(markers));
        EXPECT_EQ(InfoJsonMarkers(path), Plain(markers));
        const auto after = test::ReadBytes(path);
        if (path.ends_with(".wdq")) {
            EXPECT_EQ(IndependentMarkers(path), Plain(markers));
            EXPECT_EQ(WdqSamples(after), WdqSamples(before));
        } else {
            EXPECT_EQ(after, before);
        }
        reader = OpenRecording(path, error);
        ASSERT_TRUE(reader) << error;
        std::vector<int16_t> again(samples.size());
        ASSERT_TRUE(reader->ReadSamples(0, scans, again));
        EXPECT_EQ(again, samples);
    }
}

// Holds `path` as a recorder does, by one of its two locks or both.
class Holder {
  public:
    enum class Lock { Flock, RecordLock, Recorder };
    Holder(const std::string& path, Lock lock) {
        if (lock == Lock::Recorder) {
            std::string error;
            recording_ = DefaultFileOpener().CreateRecording(path, error);
            EXPECT_TRUE(recording_) << error;
            return;
        }
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        EXPECT_GE(fd_, 0);
        if (lock == Lock::Flock) {
            EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
        } else {
            struct flock whole {};
            whole.l_type = F_WRLCK;
            whole.l_whence = SEEK_SET;
            EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &whole), 0);
        }
    }
    ~Holder() {
        if (fd_ >= 0) ::close(fd_);
        if (recording_) recording_->Discard();
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

  private:
    int fd_ = -1;
    std::unique_ptr<RecordingFile> recording_;
};

// A WinDaq file as a killed recorder leaves it (no trailer), a text file
// with a partial last line.
void CutShort(const std::string& path) {
    auto bytes = test::ReadBytes(path);
    if (path.ends_with(".wdq")) {
        bytes.resize(kWdqHeaderBytes + 400);
        std::fill_n(bytes.begin() + 8, 10, uint8_t{0});
    } else {
        const std::string partial = "2.000 1.";
        bytes.insert(bytes.end(), partial.begin(), partial.end());
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Markers Many(std::size_t count, const std::string& stem) {
    Markers markers;
    for (std::size_t m = 0; m < count; ++m) {
        std::string comment = stem + " " + std::to_string(m) + " ";
        comment.resize(kCommentChars, 'x');
        markers.push_back(M(static_cast<int64_t>(m) * 4, comment));
    }
    return markers;
}

TEST(MarkerSave, RefusalsLeaveTheRecordingAsItWas) {
    enum class State { Finished, Flocked, RecordLocked, Recorder, CutShort };
    struct Case {
        const char* what;
        State state;
        Markers markers;
        std::string wdqReason;  // empty: saved
        std::string textReason;
    };
    const std::string beingRecorded = "it is being recorded";
    const std::string cutShort = "it was cut short; repair it first";
    const Case cases[] = {
        {"a recorder's flock", State::Flocked, kEdited, beingRecorded, beingRecorded},
        {"a recorder's record lock", State::RecordLocked, kEdited, beingRecorded, beingRecorded},
        {"a recorder", State::Recorder, kEdited, beingRecorded, beingRecorded},
        {"cut short", State::CutShort, kEdited, cutShort, cutShort},
        {"beyond the last scan",
         State::Finished,
         {M(0, "a"), M(1000, "b")},
         "marker 1 lies at scan 1000, outside the recording's 1000 scans (0 to 999)",
         "marker 1 lies at scan 1000, outside the recording's 1000 scans (0 to 999)"},
        {"before the first scan",
         State::Finished,
         {M(-1, "a")},
         "marker 0 lies at scan -1, outside",
         "marker 0 lies at scan -1, outside"},
        {"81 characters",
         State::Finished,
         {M(0, std::string(81, 'a'))},
         "marker 0's comment has 81 characters, more than the 80 a marker keeps",
         "marker 0's comment has 81 characters, more than the 80 a marker keeps"},
        {"80 characters of two bytes", State::Finished, {M(0, "µ" + std::string(79, 'a'))}, "", ""},
        {"a character outside Windows-1252",
         State::Finished,
         {M(0, "ok"), M(5, "ok ✓")},
         "marker 1's comment holds \"✓\", which a WinDaq file cannot store",
         ""},
        {"a line break",
         State::Finished,
         {M(5, "two\nlines")},
         "",
         "marker 0's comment holds a line break"},
        {"a carriage return",
         State::Finished,
         {M(5, "two\rlines")},
         "",
         "marker 0's comment holds a line break"},
        {"a NUL",
         State::Finished,
         {M(5, std::string("cut\0off", 7))},
         "marker 0's comment holds a NUL character",
         "marker 0's comment holds a NUL character"},
        {"no UTF-8",
         State::Finished,
         {M(5, "caf\xE9")},
         "marker 0's comment holds the byte 0xE9, which is no UTF-8 text",
         "marker 0's comment holds the byte 0xE9, which is no UTF-8 text"},
        {"201 markers", State::Finished, Many(201, "m"),
         "201 markers, more than the 200 a recording keeps",
         "201 markers, more than the 200 a recording keeps"},
        {"200 markers", State::Finished, Many(200, "m"), "", ""},
        {"no marker", State::Finished, {}, "a WinDaq file keeps at least one marker", ""},
    };
    for (const Case& c : cases) {
        for (const char* name : {"run.wdq", "run.dat"}) {
            SCOPED_TRACE(std::string(c.what) + ", " + name);
            test::TempDir dir;
            const std::string path = dir.File(name);
            WriteRecording(path, 1000, kOriginal);
            if (c.state == State::CutShort) CutShort(path);
            const auto before = Contents(dir.path());
            const std::string& reason =
                std::string(name).ends_with(".wdq") ? c.wdqReason : c.textReason;
            std::string error;
            bool saved = false;
            {
                std::unique_ptr<Holder> holder;
                if (c.state == State::Flocked) {
                    holder = std::make_unique<Holder>(path, Holder::Lock::Flock);
                } else if (c.state == State::RecordLocked) {
                    holder = std::make_unique<Holder>(path, Holder::Lock::RecordLock);
                } else if (c.state == State::Recorder) {
                    holder = std::make_unique<Holder>(path, Holder::Lock::Recorder);
                }
                saved = SaveRecordingMarkers(path, c.markers, error);
            }
            if (reason.empty()) {
                EXPECT_TRUE(saved) << error;
                EXPECT_EQ(ReadMarkers(path), Plain(c.markers));
                continue;
            }
            EXPECT_FALSE(saved);
            EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
            EXPECT_NE(error.find(reason), std::string::npos) << error;
            EXPECT_EQ(Contents(dir.path()), before) << "every file as it was, none added";
        }
    }
}

// Runs `save` as the user nobody, who may write the files but not the folder.
bool SaveAsNobody(const std::string& path, const Markers& markers, std::string& error) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        std::string why;
        const bool saved = SaveRecordingMarkers(path, markers, why);
        const ssize_t written = ::write(pipeFds[1], why.data(), why.size());
        ::_exit(saved ? 0 : (written >= 0 ? 1 : 3));
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(MarkerSave, AReadOnlyFolderIsRefusedWithTheSystemsReason) {
    for (const char* name : {"run.wdq", "run.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string path = dir.File(name);
        WriteRecording(path, 1000, kOriginal);
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            fs::permissions(entry.path(), static_cast<fs::perms>(0666));
        }
        fs::permissions(dir.path(), static_cast<fs::perms>(0555));
        const auto before = Contents(dir.path());
        std::string error;
        const bool saved = ::geteuid() == 0 ? SaveAsNobody(path, kEdited, error)
                                            : SaveRecordingMarkers(path, kEdited, error);
        fs::permissions(dir.path(), static_cast<fs::perms>(0755));
        EXPECT_FALSE(saved);
        EXPECT_EQ(error, path + ": Permission denied");
        EXPECT_EQ(Contents(dir.path()), before);
    }
}

// A small file system of its own, mounted for the test and gone with it.
class SmallFileSystem {
  public:
    explicit SmallFileSystem(const std::string& folder) : folder_(folder) {
        fs::create_directory(folder_);
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) reason_ = std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string reason_;
};

// Fills the file system at `folder` up to `room` bytes before its end.
void Fill(const std::string& folder, std::size_t room) {
    const std::string filler = folder + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::vector<char> block(4096, 'f');
    off_t size = 0;
    while (true) {
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0) break;
        size += n;
    }
    ASSERT_EQ(::ftruncate(fd, std::max<off_t>(size - static_cast<off_t>(room), 0)), 0);
    ::close(fd);
}

TEST(MarkerSave, AFullDiskLeavesTheRecordingAsItWas) {
    for (const char* name : {"run.wdq", "run.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string folder = dir.File("small");
        SmallFileSystem disk(folder);
        if (!disk.mounted()) {
            GTEST_SKIP() << "a 64 KiB tmpfs cannot be mounted here (" << disk.reason() << ")";
        }
        const std::string path = folder + "/" + name;
        // About 16 KiB of samples, and a new trailer or info file of about 17 KiB.
        WriteRecording(path, std::string(name).ends_with(".wdq") ? 4000 : 1000, kOriginal);
        Fill(folder, 8192);
        const auto before = Contents(folder);
        std::string error;
        EXPECT_FALSE(SaveRecordingMarkers(path, Many(200, "full"), error));
        EXPECT_EQ(error, (std::string(name).ends_with(".wdq") ? path : InfoFileName(path)) +
                             ": No space left on device");
        EXPECT_EQ(Contents(folder), before);
    }
}

// A save killed at random moments leaves the old or the new markers, whole.
TEST(MarkerSave, ASaveKilledAtAnyMomentLeavesOneWholeFile) {
    const Markers first = Many(200, "first");
    const Markers second = Many(200, "second");
    std::mt19937 random(20240611);
    for (const char* name : {"run.wdq", "run.dat"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const std::string path = dir.File(name);
        const bool wdq = path.ends_with(".wdq");
        // About 2 MB of samples for a WinDaq file to copy; a text recording's
        // data file is only read.
        WriteRecording(path, wdq ? 500000 : 20000, first);
        const auto samples = test::ReadBytes(path);
        for (int kill = 0; kill < 10; ++kill) {
            SCOPED_TRACE("kill " + std::to_string(kill));
            int pipeFds[2];
            ASSERT_EQ(::pipe(pipeFds), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(pipeFds[0]);
                std::string error;
                for (bool odd = false;; odd = !odd) {
                    if (!SaveRecordingMarkers(path, odd ? first : second, error)) ::_exit(1);
                    if (::write(pipeFds[1], "s", 1) != 1) ::_exit(1);
                }
            }
            ::close(pipeFds[1]);
            // Two saves done: the time one takes, then a kill within the next two.
            const auto Wait = [&]() {
                pollfd p{pipeFds[0], POLLIN, 0};
                if (::poll(&p, 1, 30000) != 1) return false;
                char c = 0;
                return ::read(pipeFds[0], &c, 1) == 1;
            };
            ASSERT_TRUE(Wait());
            const auto start = std::chrono::steady_clock::now();
            ASSERT_TRUE(Wait());
            const auto oneSave = std::chrono::steady_clock::now() - start;
            const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(oneSave) *
                               std::uniform_real_distribution<double>(0.0, 2.0)(random);
            std::this_thread::sleep_for(delay);
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            ::close(pipeFds[0]);
            ASSERT_TRUE(WIFSIGNALED(status)) << "the saves failed";

            const std::vector<Marker> now = ReadMarkers(path);
            EXPECT_TRUE(now == Plain(first) || now == Plain(second)) << now.size() << " markers";
            const auto bytes = test::ReadBytes(path);
            if (wdq) {
                EXPECT_EQ(IndependentMarkers(path), now);
                EXPECT_EQ(WdqSamples(bytes), WdqSamples(samples));
                EXPECT_EQ(Slice(bytes, 16, kWdqHeaderBytes), Slice(samples, 16, kWdqHeaderBytes));
            } else {
                EXPECT_EQ(bytes, samples);
            }
            // A kill in the instant between the new file's temporary name and
            // its rename leaves it under that hidden name; nothing else is left.
            std::size_t files = 0;
            for (const auto& entry : fs::directory_iterator(dir.path())) {
                const std::string file = entry.path().filename().string();
                if (file.starts_with(".") && file.ends_with(".tmp")) {
                    fs::remove(entry.path());
                    continue;
                }
                ++files;
            }
            EXPECT_EQ(files, wdq ? 1u : 2u) << "nothing left beside the recording";
        }
    }
}

}  // namespace
}  // namespace tamix
