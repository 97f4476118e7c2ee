#include "recording/ChainSink.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <utility>

#include "base/Utf8Text.h"
#include "recording/ChainNames.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

// A file stays open for markers this long after its last scan: a gap is
// marked about two seconds after its scans went missing, and the markers
// reach the files at the once-a-second checkpoints.
constexpr double kGraceSeconds = 4.0;
// The next file is made this long before its first scan is due.
constexpr double kAheadSeconds = 3.0;
// More files than this waiting for their late markers (files of a few
// scans each) are completed at once.
constexpr std::size_t kMostRetiring = 4;

// Appends a marker to a file's own table; the worker is its only writer.
void AddTo(MarkerTable& table, int64_t scan, std::string_view text, int64_t wallTime) {
    const int m = table.markerCount.load(std::memory_order_relaxed);
    if (m >= kMaxMarkers) return;
    table.markerPos[m] = scan;
    CopyText(table.markerText[m], text, kCommentChars);
    table.markerWallTime[m] = wallTime;
    table.reserved.store(m + 1, std::memory_order_relaxed);
    table.markerCount.store(m + 1, std::memory_order_release);
}

}  // namespace

int64_t WdqFileScans(int channelCount, uint64_t limitBytes) {
    const auto scanBytes = static_cast<uint64_t>(2 * std::clamp(channelCount, 1, kMaxChannels));
    const uint64_t bySize = std::min<uint64_t>(limitBytes, 0xFFFFFFFFu) / scanBytes;
    // Scan indexes stay far below the trailer's comment pointers (2^31 and up).
    return static_cast<int64_t>(std::min<uint64_t>(bySize, uint64_t{1} << 30));
}

struct ChainSink::File {
    std::string name;
    int64_t position = 1;
    int64_t first = 0;  // the run's index of its first scan
    int64_t scans = 0;
    std::unique_ptr<MarkerTable> markers = std::make_unique<MarkerTable>();
    std::array<uint8_t, kWdqHeaderBytes> header{};
    std::unique_ptr<RecordingSink> sink;
    int64_t startTime = 0;
    bool stamped = true;
    // Set on the chores' thread once it completed the file.
    std::atomic<bool> done{false};
    SinkEnd end = SinkEnd::Ok;
};

// The next file, made on the chores' thread.
struct ChainSink::Prepared {
    std::unique_ptr<File> file;
    bool ok = false;
    std::atomic<bool> done{false};
};

ChainSink::ChainSink(const ChainSettings& settings, FileOpener& opener,
                     std::span<uint8_t, kWdqHeaderBytes> header)
    : settings_(settings), opener_(opener), firstHeader_(header) {
    const double period = settings.first.period > 0 ? settings.first.period : 1.0;
    graceScans_ = std::llround(kGraceSeconds / period);
    aheadScans_ = std::llround(kAheadSeconds / period);
    retiring_.reserve(2 * kMostRetiring);
    current_ = MakeFile(1, 0);
}

ChainSink::~ChainSink() {
    // Chores still running refer to the files below.
    chores_.Drain();
}

std::unique_ptr<ChainSink::File> ChainSink::MakeFile(int64_t position, int64_t first) {
    auto f = std::make_unique<File>();
    // Its first marker is the file's own start: the run's, or where it continues.
    f->markers->markerCount.store(0);
    f->markers->reserved.store(0);
    const SinkSettings& s0 = settings_.first;
    f->name = ChainFileName(s0.fileName, s0.type, position);
    f->position = position;
    f->first = first;
    SinkSettings s = s0;
    s.fileName = f->name;
    int64_t announced = std::max<int64_t>(s0.headerScans - first, 0);
    if (settings_.fileScans > 0) announced = std::min(announced, settings_.fileScans);
    s.headerScans = announced;
    // Replaced at the switch by the wall-clock time of the file's first scan.
    s.creationTime = s0.creationTime + std::llround(static_cast<double>(first) * s0.period);
    f->startTime = s.creationTime;
    const std::span<uint8_t, kWdqHeaderBytes> header =
        position == 1 ? firstHeader_ : std::span<uint8_t, kWdqHeaderBytes>(f->header);
    f->sink = CreateSink(s, opener_, header);
    return f;
}

bool ChainSink::Fail(const std::string& error) {
    if (!failed_) {
        failed_ = true;
        error_ = error;
    }
    return false;
}

bool ChainSink::Prepare(const MarkerTable& markers) {
    // The run's start marker is the first file's.
    AddTo(*current_->markers, markers.markerPos[0], markers.Text(0), markers.markerWallTime[0]);
    if (current_->sink->Prepare(*current_->markers)) return true;
    return Fail(current_->sink->Error());
}

bool ChainSink::Open() {
    return current_->sink->Open() || Fail(current_->sink->Error());
}

bool ChainSink::Begin(const MarkerTable& markers) {
    runMarkers_ = &markers;
    return current_->sink->Begin(*current_->markers) || Fail(current_->sink->Error());
}

bool ChainSink::SetStartTime(int64_t creationTime) {
    return current_->sink->SetStartTime(creationTime) || Fail(current_->sink->Error());
}

void ChainSink::PrepareNext() {
    const int64_t share = settings_.fileScans;
    if (prepared_ || share <= 0) return;
    const int64_t first = current_->first + share;
    // The loop writes whole cycles of eight scans past the run's limit.
    if (first >= settings_.runScans + 8) return;
    auto p = std::make_unique<Prepared>();
    p->file = MakeFile(current_->position + 1, first);
    File& f = *p->file;
    AddTo(*f.markers, 0, ContinuedFromText(current_->name, first), f.startTime);
    Prepared* const job = p.get();
    prepared_ = std::move(p);
    chores_.Post([job] {
        File& file = *job->file;
        RecordingSink& sink = *file.sink;
        // In its place at once: its first checkpoint then costs no rename.
        job->ok = sink.Prepare(*file.markers) && sink.Open() && sink.Begin(*file.markers) &&
                  sink.TakePlace();
        if (!job->ok) sink.Discard();
        job->done.store(true, std::memory_order_release);
    });
}

bool ChainSink::Switch() {
    if (!prepared_) PrepareNext();
    if (!prepared_) return Fail("Can't begin the next file after " + current_->name + ".");
    // Made well ahead as a rule; a slow disk is waited for rather than lost.
    if (!prepared_->done.load(std::memory_order_acquire)) chores_.Drain();
    if (!prepared_->ok) {
        const std::string error = prepared_->file->sink->Error();
        prepared_.reset();
        return Fail(error);
    }
    retiring_.push_back(std::move(current_));
    current_ = std::move(prepared_->file);
    prepared_.reset();
    position_ = current_->position;
    current_->startTime = static_cast<int64_t>(std::time(nullptr));
    current_->markers->markerWallTime[0] = current_->startTime;
    current_->stamped = false;
    return true;
}

bool ChainSink::WriteScan(int64_t scanIndex, std::span<const int16_t> samples) {
    if (settings_.fileScans > 0 && current_->scans >= settings_.fileScans && !Switch()) {
        return false;
    }
    if (!current_->sink->WriteScan(scanIndex - current_->first, samples)) {
        return Fail(current_->sink->Error());
    }
    ++current_->scans;
    ++written_;
    return true;
}

ChainSink::File* ChainSink::FileOf(int64_t scan, bool all) {
    if (scan >= current_->first) {
        // A scan beyond the current file's share is the next file's.
        const int64_t share = settings_.fileScans;
        if (!all && share > 0 && scan >= current_->first + share) return nullptr;
        return current_.get();
    }
    for (auto it = retiring_.rbegin(); it != retiring_.rend(); ++it) {
        if (scan >= (*it)->first) return it->get();
    }
    return current_.get();
}

void ChainSink::Distribute(int count, bool all) {
    if (runMarkers_ == nullptr) return;
    const MarkerTable& run = *runMarkers_;
    count = std::min(count, kMaxMarkers);
    for (; taken_ < count; ++taken_) {
        const int64_t scan = run.markerPos[taken_];
        File* const into = FileOf(scan, all);
        if (into == nullptr) return;  // its file is not begun yet
        // A marker made after its file was completed goes to the start of the current one.
        const int64_t at = std::max<int64_t>(scan - into->first, 0);
        AddTo(*into->markers, at, run.Text(taken_), run.markerWallTime[taken_]);
    }
}

void ChainSink::Note(const File& file, SinkEnd end) {
    kept_ += file.sink->ScansKept();
    if (end == SinkEnd::WriteFailed) {
        // The failed file's own sentence, which by now also says where its
        // markers are kept.
        const std::string& sentence = file.sink->Error();
        if (error_.empty() || sentence.starts_with(error_)) error_ = sentence;
        failed_ = true;
        end_ = SinkEnd::WriteFailed;
    } else if (end == SinkEnd::InfoFailed) {
        if (info_.empty()) info_ = file.sink->Error();
        if (end_ == SinkEnd::Ok) end_ = SinkEnd::InfoFailed;
    } else if (info_.empty()) {
        info_ = file.sink->Error();
    }
}

void ChainSink::FinishFile(File& file) {
    file.end = file.sink->Finish(*file.markers, file.markers->markerCount.load());
}

void ChainSink::Retire(bool all) {
    while (!retiring_.empty()) {
        File& oldest = *retiring_.front();
        const bool due = all || written_ - (oldest.first + oldest.scans) >= graceScans_ ||
                         retiring_.size() > kMostRetiring;
        if (!due) break;
        std::unique_ptr<File> file = std::move(retiring_.front());
        retiring_.erase(retiring_.begin());
        File* const job = file.get();
        finishing_.push_back(std::move(file));
        chores_.Post([job] {
            job->end = job->sink->Finish(*job->markers, job->markers->markerCount.load());
            job->done.store(true, std::memory_order_release);
        });
    }
}

void ChainSink::Collect() {
    for (auto it = finishing_.begin(); it != finishing_.end();) {
        if (!(*it)->done.load(std::memory_order_acquire)) {
            ++it;
            continue;
        }
        Note(**it, (*it)->end);
        it = finishing_.erase(it);
    }
}

bool ChainSink::Checkpoint() {
    Distribute(
        runMarkers_ != nullptr ? runMarkers_->markerCount.load(std::memory_order_acquire) : 0,
        false);
    for (const auto& file : retiring_) {
        RecordingSink& sink = *file->sink;
        if (!sink.Checkpoint() || !sink.TakePlace()) return Fail(sink.Error());
    }
    if (!current_->stamped) {
        current_->stamped = true;
        if (!SetStartTime(current_->startTime)) return false;
    }
    if (!current_->sink->Checkpoint()) return Fail(current_->sink->Error());
    Retire(false);
    Collect();
    if (end_ == SinkEnd::WriteFailed) return false;
    if (settings_.fileScans > 0 && current_->scans + aheadScans_ >= settings_.fileScans) {
        PrepareNext();
    }
    return true;
}

bool ChainSink::TakePlace() {
    for (const auto& file : retiring_) {
        if (!file->sink->TakePlace()) return Fail(file->sink->Error());
    }
    if (!current_->sink->TakePlace()) return Fail(current_->sink->Error());
    placed_ = true;
    return true;
}

void ChainSink::Discard() {
    chores_.Drain();
    if (prepared_) prepared_->file->sink->Discard();
    prepared_.reset();
    for (const auto& file : retiring_) file->sink->Discard();
    retiring_.clear();
    current_->sink->Discard();
}

SinkEnd ChainSink::Finish(const MarkerTable& markers, int markerCount) {
    runMarkers_ = &markers;
    Distribute(markerCount, true);
    chores_.Drain();
    if (prepared_) {
        // Made for a switch that never came: it held no scan.
        File& unused = *prepared_->file;
        const bool placed = prepared_->ok;
        unused.sink->Discard();
        if (placed) {
            std::error_code ec;
            std::filesystem::remove(unused.name, ec);
            if (settings_.first.type == FileType::Text) {
                std::filesystem::remove(InfoFileName(unused.name), ec);
            }
        }
        prepared_.reset();
    }
    Collect();
    for (const auto& file : retiring_) {
        FinishFile(*file);
        Note(*file, file->end);
    }
    retiring_.clear();
    if (!current_->stamped) {
        current_->stamped = true;
        SetStartTime(current_->startTime);
    }
    FinishFile(*current_);
    Note(*current_, current_->end);
    if (current_->end == SinkEnd::InfoFailed && end_ == SinkEnd::InfoFailed) {
        info_ = current_->sink->Error();
    }
    return end_;
}

uint64_t ChainSink::BytesWritten() const {
    return current_->sink->BytesWritten();
}

}  // namespace tamix
