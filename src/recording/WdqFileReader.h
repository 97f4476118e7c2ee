// Reads WinDaq files as the format's public description allows them, not only
// as Tamix writes them: both header layouts of the channel count, HiRes or
// event-bit samples, every event-marker form, Windows-1252 texts. Files cut
// short by a crash are read as far as they are whole.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recording/ReadOnlyFile.h"
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

// The channel count that header bytes 0 and 1 give: with byte 1 clear (the
// layout with room for at most 29 channels) the low five bits of byte 0, whose
// upper bits are flags; with byte 1 set (room for 144 channels or more) the
// whole of byte 0. The header's geometry must then agree (ParseWdqFile).
int WdqChannelCount(uint8_t byte0, uint8_t byte1);

// Copies `out.size()` bytes at `offset` of the file being parsed; false with
// a reason when they cannot be read.
using WdqByteSource =
    std::function<bool(uint64_t offset, std::span<uint8_t> out, std::string& reason)>;

// Parses the header and trailer of a file of `size` bytes read through
// `read`. False with a reason (without the file name) for files that are not
// WinDaq files at all, or that cannot be read.
bool ParseWdqFile(uint64_t size, const WdqByteSource& read, RecordingInfo& info, WdqLayout& layout,
                  std::string& reason);
// The same for a whole file in memory.
bool ParseWdq(std::span<const uint8_t> bytes, RecordingInfo& info, WdqLayout& layout,
              std::string& reason);

// A WinDaq file on disk, read with the system's read calls; owned by whoever
// opened it.
class WdqFileReader final : public RecordingReader {
  public:
    // nullptr with `error` ("FILE: reason") when the file cannot be read.
    static std::unique_ptr<WdqFileReader> Open(const std::string& path, std::string& error);

    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t first, int64_t count, std::span<int16_t> out) override;
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override;
    bool CopyStoredSamples(int64_t first, int64_t count, std::span<int16_t> out,
                           std::string& error) const override;
    bool Refresh(bool& grew) override;
    std::string Error() const override { return error_; }

    const WdqLayout& Layout() const { return layout_; }
    // The file's size as it was opened, and its bytes, for copying it whole.
    uint64_t FileSize() const { return file_.Size(); }
    bool ReadBytes(uint64_t offset, std::span<uint8_t> out, std::string& error) const;

  private:
    bool CheckRange(int64_t first, int64_t count, std::size_t outSize, std::string& error) const;
    // The stored words of scans [first, first + count) into `out`; false with
    // `error` ("FILE: reason").
    bool ReadWords(int64_t first, int64_t count, std::span<uint8_t> out, std::string& error) const;

    ReadOnlyFile file_;
    // Header bytes 36..39, the time the file was opened by its writer: a new
    // recording onto the same name has another, even once it has grown past
    // what this reader reads.
    uint32_t opened_ = 0;
    RecordingInfo info_;
    WdqLayout layout_;
    std::vector<uint8_t> scratch_;
    std::string error_;
};

}  // namespace tamix
