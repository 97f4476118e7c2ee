#include "recording/RecordingSink.h"

#include <algorithm>
#include <array>
#include <memory>

#include "recording/MarkerJournal.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

// Remembers the first failure of a file with its name.
class FailureNote {
  public:
    explicit FailureNote(std::string name) : name_(std::move(name)) {}
    bool Check(bool ok, const OutputFile& file) {
        if (!ok && !failed_) {
            failed_ = true;
            error_ = "Can't write output file " + name_ + ": " + file.Error() + ".";
        }
        return ok;
    }
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }
    void Append(const std::string& more) { error_ += more; }
    const std::string& name() const { return name_; }
    void Set(std::string error) {
        failed_ = true;
        error_ = std::move(error);
    }

  private:
    std::string name_;
    bool failed_ = false;
    std::string error_;
};

// Journals the markers published so far, after the scans they point into
// reached the file. A journal that cannot be written does not end the run:
// its markers still go into the file when the run completes it.
void JournalMarkers(MarkerJournal& journal, const MarkerTable* markers) {
    if (markers == nullptr) return;
    journal.Append(DefaultFileOpener(), *markers,
                   markers->markerCount.load(std::memory_order_acquire));
}

// Ends the journal once the file is completed: removed where the file took
// the markers, kept for the repair where it could not. The sentence says
// where the markers are then.
std::string EndJournal(MarkerJournal& journal, bool markersInFile, const std::string& recording) {
    if (markersInFile) {
        // A journal left behind only makes the file look cut short; a repair
        // then finds the same markers and removes it.
        journal.Remove();
        return {};
    }
    journal.Keep();
    if (!journal.Attempted()) return {};
    if (journal.Failed()) return " Its markers are lost: " + journal.Error();
    return " Its markers are kept in " + journal.Path() + " until tamix-file repair " + recording +
           " puts them into the file.";
}

// What both formats share about their data file: created only once the unit
// has answered, beside an existing target until it takes the target's place.
class FileSink : public RecordingSink {
  public:
    FileSink(const SinkSettings& s, FileOpener& opener)
        : note_(s.fileName),
          opener_(opener),
          journal_(s.fileName, s.channels, s.period, s.creationTime) {}

    bool Open() override {
        std::string reason;
        file_ = opener_.CreateRecording(note_.name(), reason);
        if (file_) return true;
        note_.Set("Can't create output file " + note_.name() + ": " + reason + ".");
        return false;
    }

    bool TakePlace() override {
        if (taken_) return true;
        taken_ = note_.Check(!note_.failed() && file_->TakePlace(), *file_);
        return taken_;
    }
    // Also a file created under the target's name counts only from here on:
    // before, a stop removes it again.
    bool Placed() const override { return taken_; }
    void Discard() override {
        if (file_) file_->Discard();
        // A journal of a run that never took its place would only confuse the
        // file that is still there.
        journal_.Remove();
    }

  protected:
    // The journal is appended before the rename that puts a new file in
    // place: it then belongs to the file under the name from its first
    // moment there, and a stale journal of an earlier run is emptied first.
    // Until then the journal's own checks tell it from the old file's.
    bool JournalAndPlace() {
        JournalMarkers(journal_, markers_);
        return TakePlace();
    }

    std::unique_ptr<RecordingFile> file_;
    FailureNote note_;
    FileOpener& opener_;
    MarkerJournal journal_;
    const MarkerTable* markers_ = nullptr;
    bool taken_ = false;
};

class WdqSink final : public FileSink {
  public:
    WdqSink(const SinkSettings& s, FileOpener& opener, std::span<uint8_t, kWdqHeaderBytes> header)
        : FileSink(s, opener),
          channels_(s.channels),
          header_(header),
          creationTime_(s.creationTime) {
        BuildWdqHeader(header_, s.headerScans, static_cast<int>(channels_.size()), s.period,
                       channels_, s.creationTime);
    }

    bool Prepare(const MarkerTable&) override { return true; }

    bool Begin(const MarkerTable& markers) override {
        markers_ = &markers;
        // Written as announced for the whole run, then cut down to what is on
        // disk at once, so that a file killed at any moment reads correctly.
        return note_.Check(file_->Write(header_.data(), header_.size()), *file_) && SaveScans();
    }

    bool SetStartTime(int64_t creationTime) override {
        creationTime_ = creationTime;
        journal_.SetCreationTime(creationTime);
        // The header's own fields, rebuilt as BuildWdqHeader fills them.
        std::array<uint8_t, kWdqHeaderBytes> fresh{};
        BuildWdqHeader(fresh, 0, static_cast<int>(channels_.size()), 0.0, channels_, creationTime);
        constexpr std::size_t kTimeAt = 36;
        constexpr std::size_t kTimeBytes = 8;
        std::copy_n(fresh.begin() + kTimeAt, kTimeBytes, header_.begin() + kTimeAt);
        return note_.Check(file_->PatchAt(kTimeAt, &header_[kTimeAt], kTimeBytes), *file_);
    }

    bool WriteScan(int64_t, std::span<const int16_t> samples) override {
        std::array<uint8_t, 2 * kMaxChannels> bytes{};
        const std::size_t n = std::min<std::size_t>(samples.size(), kMaxChannels);
        for (std::size_t k = 0; k < n; ++k) PutWdqSample(&bytes[2 * k], samples[k]);
        if (!note_.Check(file_->Write(bytes.data(), 2 * n), *file_)) return false;
        bytesWritten_ += 2 * n;
        return true;
    }

    bool Checkpoint() override { return SaveScans() && JournalAndPlace(); }

    SinkEnd Finish(const MarkerTable& markers, int markerCount) override {
        // The journal first, so that it never holds fewer markers than the file.
        if (journal_.Attempted()) journal_.Append(DefaultFileOpener(), markers, markerCount);
        if (!note_.failed()) {
            note_.Check(WriteWdqTrailer(*file_, markers, markerCount, channels_, creationTime_),
                        *file_);
        }
        // A run that ended before its first checkpoint, complete as far as it went.
        if (!note_.failed()) note_.Check(PatchWdqDataSize(*file_, bytesWritten_), *file_);
        TakePlace();
        // The header must describe only what reached the file, also after a
        // failure, and the file ends after its last whole scan.
        uint64_t dataBytes = bytesWritten_;
        if (note_.failed()) {
            const uint64_t size = file_->DurableSize();
            const uint64_t onDisk = size > kWdqHeaderBytes ? size - kWdqHeaderBytes : 0;
            const uint64_t scanBytes = 2 * std::max<uint64_t>(channels_.size(), 1);
            dataBytes = std::min(dataBytes, onDisk / scanBytes * scanBytes);
            if (size > kWdqHeaderBytes + dataBytes) file_->Truncate(kWdqHeaderBytes + dataBytes);
        }
        note_.Check(PatchWdqDataSize(*file_, dataBytes), *file_);
        note_.Check(file_->Close(), *file_);
        keptScans_ =
            static_cast<int64_t>(dataBytes / (2 * std::max<uint64_t>(channels_.size(), 1)));
        const std::string where = EndJournal(journal_, !note_.failed(), note_.name());
        if (note_.failed()) note_.Append(where);
        return note_.failed() ? SinkEnd::WriteFailed : SinkEnd::Ok;
    }

    uint64_t BytesWritten() const override { return bytesWritten_; }
    int64_t ScansKept() const override { return keptScans_; }
    const std::string& Error() const override { return note_.error(); }

  private:
    // The data first, then the size that counts it.
    bool SaveScans() {
        return note_.Check(file_->Flush(), *file_) &&
               note_.Check(PatchWdqDataSize(*file_, bytesWritten_), *file_);
    }

    std::span<const ChannelInfo> channels_;
    std::span<uint8_t, kWdqHeaderBytes> header_;
    int64_t creationTime_;
    uint64_t bytesWritten_ = 0;
    int64_t keptScans_ = 0;
};

class TextSink final : public FileSink {
  public:
    TextSink(const SinkSettings& s, FileOpener& opener)
        : FileSink(s, opener),
          channels_(s.channels),
          period_(s.period),
          lineEnds_(std::make_unique<uint64_t[]>(kLineEnds)) {}

    bool Prepare(const MarkerTable& markers) override {
        // The channels are known now; the markers follow at the end. Written
        // before the unit streams, so that its disk time costs no scans, and
        // put in place with the data file.
        startInfo_ = WriteInfo(markers, 1, false);
        if (startInfo_) return true;
        note_.Set(info_);
        return false;
    }

    bool Begin(const MarkerTable& markers) override {
        markers_ = &markers;
        return true;
    }

    // The text format keeps no start time; only the journal says when.
    bool SetStartTime(int64_t creationTime) override {
        journal_.SetCreationTime(creationTime);
        return true;
    }

    bool TakePlace() override {
        if (taken_) return true;
        if (!FileSink::TakePlace()) return false;
        // The data file first: the info file names its channels.
        if (startInfo_ && !startInfo_->Commit()) {
            info_ = "Can't write info file " + InfoFileName(note_.name()) + ": " +
                    startInfo_->Error() + ".";
        }
        startInfo_.reset();
        return true;
    }

    void Discard() override {
        startInfo_.reset();
        FileSink::Discard();
    }

    bool WriteScan(int64_t scanIndex, std::span<const int16_t> samples) override {
        const std::size_t len =
            FormatTextLine(line_.data(), scanIndex, period_, samples, channels_);
        // Lines go to the disk whole or not at all: a failed write keeps those before.
        if (!note_.Check(file_->Write(line_.data(), len), *file_)) return false;
        bytesWritten_ += len;
        lineEnds_[static_cast<std::size_t>(lines_) % kLineEnds] = bytesWritten_;
        ++lines_;
        return true;
    }

    bool Checkpoint() override {
        if (!note_.Check(file_->Flush(), *file_)) return false;
        flushedLines_ = lines_;
        flushedBytes_ = bytesWritten_;
        return JournalAndPlace();
    }

    SinkEnd Finish(const MarkerTable& markers, int markerCount) override {
        // The journal first, so that it never holds fewer markers than the info file.
        if (journal_.Attempted()) journal_.Append(DefaultFileOpener(), markers, markerCount);
        if (!note_.failed()) note_.Check(file_->Flush(), *file_);
        if (note_.failed()) {
            KeepWholeLines();
        } else {
            keptLines_ = lines_;
        }
        TakePlace();
        SinkEnd end = SinkEnd::Ok;
        if (!note_.failed()) {
            const auto info = WriteInfo(markers, markerCount, true);
            if (!info) end = SinkEnd::InfoFailed;
        }
        // A close that fails after good writes leaves the last lines in doubt.
        const bool failedBefore = note_.failed();
        if (!note_.Check(file_->Close(), *file_) && !failedBefore) {
            keptLines_ = std::min(keptLines_, flushedLines_);
        }
        const std::string where =
            EndJournal(journal_, !note_.failed() && end == SinkEnd::Ok, note_.name());
        if (note_.failed()) {
            note_.Append(where);
        } else {
            info_ += where;
        }
        return note_.failed() ? SinkEnd::WriteFailed : end;
    }

    uint64_t BytesWritten() const override { return bytesWritten_; }
    int64_t ScansKept() const override { return keptLines_; }
    const std::string& Error() const override { return note_.failed() ? note_.error() : info_; }

  private:
    // Lines whose ends are remembered: more than a checkpoint's worth at the
    // fastest unit, so that a failed write is cut back to the very last whole line.
    static constexpr std::size_t kLineEnds = 4096;

    // After a failed write: cuts the file back to the end of the last line
    // that reached it whole.
    void KeepWholeLines() {
        const uint64_t onDisk = file_->DurableSize();
        uint64_t keep = flushedBytes_;
        keptLines_ = flushedLines_;
        const int64_t oldest = std::max(flushedLines_, lines_ - static_cast<int64_t>(kLineEnds));
        for (int64_t k = lines_; k > oldest; --k) {
            const uint64_t end = lineEnds_[static_cast<std::size_t>(k - 1) % kLineEnds];
            if (end <= onDisk) {
                keep = end;
                keptLines_ = k;
                break;
            }
        }
        if (onDisk > keep) file_->Truncate(keep);
    }

    // The info file, complete, as a replacement of the one there: in place
    // when `commit`, else waiting for TakePlace. Nullptr with info_ set.
    std::unique_ptr<ReplacementFile> WriteInfo(const MarkerTable& markers, int markerCount,
                                               bool commit) {
        const std::string name = InfoFileName(note_.name());
        std::string reason;
        // A pipe in the info file's place would hold the worker until read.
        auto info =
            opener_.CanCreate(name, reason) ? opener_.CreateReplacement(name, reason) : nullptr;
        if (info) {
            const bool written = WriteInfoFile(*info, channels_, markers, markerCount, period_);
            if (info->Close() && written && (!commit || info->Commit())) return info;
            reason = info->Error();
        }
        info_ = "Can't write info file " + name + ": " + reason + ".";
        return nullptr;
    }

    std::span<const ChannelInfo> channels_;
    double period_;
    std::unique_ptr<ReplacementFile> startInfo_;  // until the data file takes its place
    std::array<char, kMaxTextLine> line_{};
    uint64_t bytesWritten_ = 0;
    int64_t lines_ = 0;
    // Where line k ends in the file, for the last kLineEnds lines.
    std::unique_ptr<uint64_t[]> lineEnds_;
    // What the last checkpoint handed to the system: whole lines.
    int64_t flushedLines_ = 0;
    uint64_t flushedBytes_ = 0;
    int64_t keptLines_ = 0;
    std::string info_;
};

}  // namespace

std::unique_ptr<RecordingSink> CreateSink(const SinkSettings& settings, FileOpener& opener,
                                          std::span<uint8_t, kWdqHeaderBytes> header) {
    if (settings.type == FileType::Text) return std::make_unique<TextSink>(settings, opener);
    return std::make_unique<WdqSink>(settings, opener, header);
}

}  // namespace tamix
