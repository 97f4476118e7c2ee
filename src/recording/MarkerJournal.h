// The markers of a run kept as safe from a crash as its scans: a small text
// file beside the recording ("run.wdq.markers"), appended at every checkpoint
// and removed once the recording holds its markers itself (MarkerJournalReader
// reads it back).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "recording/OutputFile.h"

namespace tamix {

// The journal of the recording at `recording`: its name with ".markers" added.
std::string MarkerJournalName(std::string_view recording);

// How a journal's first line begins; channel count, period and time of
// creation follow.
inline constexpr std::string_view kMarkerJournalMagic = "tamix-markers 1 ";

// Written by the acquisition worker only, at checkpoints. Everything it needs
// is allocated when it is made; appending allocates nothing.
class MarkerJournal {
  public:
    // Where the journal of `recording` goes and what tells this run's journal
    // from another's; nothing is created yet.
    MarkerJournal(std::string_view recording, std::span<const ChannelInfo> channels, double period,
                  int64_t creationTime);

    // Creates the journal on the first call, emptying one that an earlier run
    // of the same name left, then appends the markers below `count` not yet in
    // it and hands them to the system. False with Error() once it failed;
    // a failed journal stays failed and is not written again.
    bool Append(FileOpener& opener, const MarkerTable& markers, int count);
    // The recording holds its markers now: closes the journal and removes it,
    // also one left by an earlier run that this run failed to empty. Nothing
    // is removed before the first Append, when the name may still be another
    // recording's. False with Error() when it cannot be removed.
    bool Remove();
    // Closes the journal and leaves it for the repair.
    void Keep();

    // The recording's time of creation as the journal's first line gives it;
    // only before the first Append.
    void SetCreationTime(int64_t creationTime) { creationTime_ = creationTime; }
    // Whether the first Append was made (the journal then belongs to this run).
    bool Attempted() const { return attempted_; }
    bool Failed() const { return failed_; }
    int Written() const { return written_; }
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

  private:
    bool Create(FileOpener& opener);
    bool Put(std::size_t length);
    bool Fail(const std::string& reason);

    std::string path_;
    std::span<const ChannelInfo> channels_;
    double period_;
    int64_t creationTime_;
    std::unique_ptr<OutputFile> file_;
    bool attempted_ = false;
    bool closed_ = false;
    bool failed_ = false;
    int written_ = 0;
    std::string error_;
    // One line: the words before the comment and the comment with every byte escaped.
    std::array<char, 128 + 2 * kCommentBytes> line_{};
};

}  // namespace tamix
