// Reads text recordings (".dat", one line per scan with the time and the
// engineering values) and their "_info.txt" files. Lines are found through a
// sparse index built in one pass, so any range of a large file is reached fast.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recording/ReadOnlyFile.h"
#include "recording/RecordingReader.h"

namespace tamix {

// The values of one text line: the time, then one value per channel. Returns
// the number of fields read (at most out.size()), or -1 for a malformed field.
int ParseTextLine(std::string_view line, std::span<double> out);

// A text recording on disk, read with the system's read calls; owned by
// whoever opened it.
class TextFileReader final : public RecordingReader {
  public:
    // nullptr with `error` ("FILE: reason") when the file cannot be read.
    static std::unique_ptr<TextFileReader> Open(const std::string& path, std::string& error);

    const RecordingInfo& Info() const override { return info_; }
    // Samples in volts (calibration 1 and 0), clamped to the sample range.
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override;
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override;
    bool Refresh(bool& grew) override;
    std::string Error() const override { return error_; }

    // Bytes of the whole lines; a partial last line lies beyond them.
    uint64_t WholeBytes() const { return wholeBytes_; }
    bool HasInfoFile() const { return hasInfoFile_; }
    // The file's size as it was opened, and its bytes, for copying it whole.
    uint64_t FileSize() const { return file_.Size(); }
    bool ReadBytes(uint64_t offset, std::span<uint8_t> out, std::string& error) const;

  private:
    static constexpr int kIndexShift = 10;  // one index entry per 1024 lines

    // One pass over the file beyond the lines indexed so far: the index, the
    // whole lines' end and count, and where the last whole line starts.
    bool IndexLines(std::string& reason);
    // Info() from the lines indexed and the info file; false with error_ set.
    bool Describe();
    bool ReadInfoFile(const std::string& path);
    // The whole line that starts at byte `p`, with its line end; false with
    // error_ set when it cannot be read.
    bool LineAt(uint64_t p, std::string_view& line);
    bool LineStart(int64_t line, uint64_t& p);

    ReadOnlyFile file_;
    RecordingInfo info_;
    std::vector<uint64_t> index_;
    uint64_t wholeBytes_ = 0;
    uint64_t lastStart_ = 0;  // where the last whole line starts
    double firstTime_ = 0;    // the time on line 1
    int fields_ = 0;          // fields of every line: the time and the values
    bool hasInfoFile_ = false;
    // A window of the file's lines, so that neighbouring reads share one read call.
    std::vector<char> window_;
    uint64_t windowStart_ = 0;
    std::size_t windowBytes_ = 0;
    // Where the last read ended, so that reading on from there skips no lines.
    int64_t nextLine_ = -1;
    uint64_t nextLineStart_ = 0;
    std::vector<double> scratch_;
    std::string error_;
};

}  // namespace tamix
