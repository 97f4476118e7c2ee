// Reads the files of a split run (run.wdq, run-0002.wdq, ...) as one recording
// whose scans, times and markers run on across the files without a gap.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recording/RecordingReader.h"

namespace tamix {

// The file at `position` (from 1) of the chain whose first file is `first`:
// the first file itself, then its name with "-0002", "-0003", ... (at least
// four digits) before its extension.
std::string ChainFileName(const std::string& first, int64_t position);

// Where a file's name puts it in a chain: the chain's first file and the
// file's position in it. A name without a chain number is the first file.
struct ChainPlace {
    std::string first;
    int64_t position = 1;
};
ChainPlace ChainPlaceOf(const std::string& path);

// The comment of the first marker of every file after the first: the previous
// file's name (without folder) and the index of the file's first scan in the
// whole run.
std::string ContinuedFromComment(std::string_view previousName, int64_t scan);

// Why `next` does not continue the chain read so far (`chain` is its first
// file's information, `previous` the last file's, `scans` the scans of all
// files before `next`), or empty when it does.
std::string ChainLinkFault(const RecordingInfo& chain, const RecordingInfo& previous,
                           const RecordingInfo& next, int64_t scans);

// The files of a chain behind one reader. Info() describes the whole run in
// the first file's channels and timing, with every file's markers at their
// scans in the whole run; reads cross the files' boundaries.
class ChainReader final : public RecordingReader {
  public:
    // The chain that `path` belongs to, read from its first file for as long
    // as each further file continues the one before; a file that does not ends
    // it, with a note. The file alone, by its own reader, when it is part of no
    // chain of two files or more (nor, being recorded, may become one).
    // nullptr with `error` ("FILE: reason") when the file cannot be read.
    static std::unique_ptr<RecordingReader> Open(const std::string& path, std::string& error);

    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override;
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override;
    bool CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                           std::string& error) const override;
    // Refreshes the last file and takes in a next one that has appeared and
    // continues it.
    bool Refresh(bool& grew) override;
    std::string Error() const override { return error_; }

  private:
    struct Part {
        std::unique_ptr<RecordingReader> reader;
        int64_t firstScan = 0;  // in the whole run
    };
    enum class Step { None, Taken, Ended };
    template <typename T, typename Read>
    bool ReadAcross(int64_t first, int64_t count, std::span<T> out, const Read& read);

    ChainReader(std::string path, std::string first);
    // Looks for the file after the last part: taken in when it continues the
    // chain; the chain ended, with a note, when it does not and the last part
    // is no longer being recorded (whose last scans may not be read yet).
    Step TakeNext();
    void Describe();
    bool CheckRange(int64_t first, int64_t count, std::size_t outSize, std::string& error) const;
    // The part that holds scan `scan` of the whole run.
    std::size_t PartOf(int64_t scan) const;

    std::string path_;
    std::string first_;
    std::vector<Part> parts_;
    int64_t scanCount_ = 0;
    std::vector<std::string> linkNotes_;
    bool ended_ = false;
    RecordingInfo info_;
    std::string error_;
};

}  // namespace tamix
