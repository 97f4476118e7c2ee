#include "recording/MarkerJournal.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace tamix {
namespace {

// Appends `text` with every backslash, line feed and carriage return escaped,
// so that each entry is one line whatever it holds.
char* PutEscaped(char* p, std::string_view text) {
    for (const char c : text) {
        if (c == '\\' || c == '\n' || c == '\r') {
            *p++ = '\\';
            *p++ = c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        } else {
            *p++ = c;
        }
    }
    return p;
}

template <typename T>
char* PutNumber(char* p, char* end, T value) {
    return std::to_chars(p, end, value).ptr;
}

char* PutWord(char* p, std::string_view word) {
    return std::copy(word.begin(), word.end(), p);
}

}  // namespace

std::string MarkerJournalName(std::string_view recording) {
    return std::string(recording) + ".markers";
}

MarkerJournal::MarkerJournal(std::string_view recording, std::span<const ChannelInfo> channels,
                             double period, int64_t creationTime)
    : path_(MarkerJournalName(recording)),
      channels_(channels),
      period_(period),
      creationTime_(creationTime) {}

bool MarkerJournal::Fail(const std::string& reason) {
    if (!failed_) error_ = "Can't write markers journal " + path_ + ": " + reason + ".";
    failed_ = true;
    return false;
}

bool MarkerJournal::Put(std::size_t length) {
    return file_->Write(line_.data(), length) || Fail(file_->Error());
}

bool MarkerJournal::Create(FileOpener& opener) {
    attempted_ = true;
    std::string reason;
    file_ = opener.Create(path_, reason);
    if (!file_) return Fail(reason);
    // Numbers in the C locale's form whatever the process's locale.
    char* const end = line_.data() + line_.size();
    char* p = std::copy(kMarkerJournalMagic.begin(), kMarkerJournalMagic.end(), line_.data());
    p = PutWord(p, "channels=");
    p = PutNumber(p, end, channels_.size());
    p = PutWord(p, " period=");
    p = PutNumber(p, end, period_);
    p = PutWord(p, " created=");
    p = PutNumber(p, end, creationTime_);
    *p++ = '\n';
    if (!Put(static_cast<std::size_t>(p - line_.data()))) return false;
    for (std::size_t k = 0; k < channels_.size(); ++k) {
        p = PutWord(line_.data(), "channel ");
        p = PutNumber(p, end, k);
        *p++ = ' ';
        p = PutEscaped(p, channels_[k].Name());
        *p++ = '\n';
        if (!Put(static_cast<std::size_t>(p - line_.data()))) return false;
    }
    return true;
}

bool MarkerJournal::Append(FileOpener& opener, const MarkerTable& markers, int count) {
    if (failed_ || closed_) return !failed_;
    const bool first = file_ == nullptr;
    if (first && !Create(opener)) return false;
    count = std::clamp(count, 0, kMaxMarkers);
    if (count <= written_ && !first) return true;
    char* const end = line_.data() + line_.size();
    for (int m = written_; m < count; ++m) {
        char* p = PutWord(line_.data(), "marker ");
        p = PutNumber(p, end, m);
        *p++ = ' ';
        p = PutNumber(p, end, markers.markerPos[m]);
        *p++ = ' ';
        p = PutNumber(p, end, markers.markerWallTime[m]);
        *p++ = ' ';
        p = PutEscaped(p, markers.Text(m));
        *p++ = '\n';
        if (!Put(static_cast<std::size_t>(p - line_.data()))) return false;
    }
    // Whole lines in one hand-over: a crash leaves at most the last one cut off.
    if (!file_->Flush()) return Fail(file_->Error());
    written_ = std::max(written_, count);
    return true;
}

void MarkerJournal::Keep() {
    if (file_) {
        if (!file_->Close()) Fail(file_->Error());
        file_.reset();
        closed_ = true;
    }
}

bool MarkerJournal::Remove() {
    // A journal this run never tried to make may be another recording's.
    if (!attempted_) return true;
    if (file_) {
        // Closed first: an open file cannot be removed everywhere.
        static_cast<void>(file_->Close());
        file_.reset();
    }
    closed_ = true;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    if (ec) {
        error_ = "Can't remove markers journal " + path_ + ": " + ec.message() + ".";
        return false;
    }
    return true;
}

}  // namespace tamix
