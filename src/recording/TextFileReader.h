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

#include "recording/MappedFile.h"
#include "recording/RecordingReader.h"

namespace tamix {

// The values of one text line: the time, then one value per channel. Returns
// the number of fields read (at most out.size()), or -1 for a malformed field.
int ParseTextLine(std::string_view line, std::span<double> out);

// A text recording mapped from disk; owned by whoever opened it.
class TextFileReader final : public RecordingReader {
  public:
    // nullptr with `error` ("FILE: reason") when the file cannot be read.
    static std::unique_ptr<TextFileReader> Open(const std::string& path, std::string& error);

    const RecordingInfo& Info() const override { return info_; }
    // Samples in volts (calibration 1 and 0), clamped to the sample range.
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override;
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override;
    std::string Error() const override { return error_; }

    // Bytes of the whole lines; a partial last line lies beyond them.
    uint64_t WholeBytes() const { return wholeBytes_; }
    bool HasInfoFile() const { return hasInfoFile_; }
    std::span<const uint8_t> Bytes() const { return file_.Bytes(); }

  private:
    static constexpr int kIndexShift = 10;  // one index entry per 1024 lines

    bool ReadInfoFile(const std::string& path);
    uint64_t LineStart(int64_t line) const;

    MappedFile file_;
    RecordingInfo info_;
    std::vector<uint64_t> index_;
    uint64_t wholeBytes_ = 0;
    bool hasInfoFile_ = false;
    std::vector<double> scratch_;
    std::string error_;
};

}  // namespace tamix
