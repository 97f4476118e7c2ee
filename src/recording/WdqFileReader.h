// Reads WinDaq files as the format's public description allows them, not only
// as Tamix writes them: both channel-count layouts, HiRes or event-bit samples,
// every event-marker form, Windows-1252 texts. Files cut short by a crash are
// read as far as they are whole.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "recording/MappedFile.h"
#include "recording/RecordingReader.h"

namespace tamix {

// Where the parts of a WinDaq file lie; every range is inside the file.
struct WdqLayout {
    uint64_t headerBytes = 0;
    uint64_t dataOffset = 0;
    uint64_t scanBytes = 0;
    bool hasTrailer = false;
    uint64_t trailerOffset = 0;  // valid when hasTrailer
};

// Parses the header and trailer in `bytes` (the whole file). False with a
// reason (without the file name) for files that are not WinDaq files at all.
bool ParseWdq(std::span<const uint8_t> bytes, RecordingInfo& info, WdqLayout& layout,
              std::string& reason);

// A WinDaq file mapped from disk; owned by whoever opened it.
class WdqFileReader final : public RecordingReader {
  public:
    // nullptr with `error` ("FILE: reason") when the file cannot be read.
    static std::unique_ptr<WdqFileReader> Open(const std::string& path, std::string& error);

    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override;
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override;
    std::span<const int16_t> StoredSamples() const override;
    bool CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                           std::string& error) const override;
    std::string Error() const override { return error_; }

    const WdqLayout& Layout() const { return layout_; }
    std::span<const uint8_t> Bytes() const { return file_.Bytes(); }

  private:
    bool CheckRange(int64_t first, int64_t count, std::size_t outSize);

    MappedFile file_;
    RecordingInfo info_;
    WdqLayout layout_;
    std::string error_;
};

}  // namespace tamix
