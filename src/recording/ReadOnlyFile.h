// A recording opened for reading at any offset through the system's read call.
// Never mapped: a file that another program cuts short or rewrites while it is
// open gives a read error here, where a mapping would end the whole program
// with a bus error at the next touch of a page that is gone.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tamix {

// Why a read of a file failed when the file is no longer what was opened.
inline constexpr std::string_view kFileChangedReason = "the file was changed by another program";

// Owns one open file; moved, never copied. Any thread may read at any time.
class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens `path`, a regular file; false with `error` holding the system's reason.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const;

    // The size the file had when it was opened; reads stay inside it, so that
    // a file still being recorded reads as it was then.
    uint64_t Size() const { return size_; }

    // Takes the file's size anew, for a file that a recorder is still writing:
    // reads may then reach what it appended. False with the system's reason,
    // or with kFileChangedReason when the file is now shorter than it was.
    // Not while another thread reads.
    bool Grow(std::string& error);

    // Tells the system that the file is about to be read front to back.
    void AdviseSequential() const;

    // Copies bytes [offset, offset + out.size()) of the file into `out`; false
    // with the system's reason when they cannot be read, and with
    // kFileChangedReason when the file now ends before them.
    bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const;

  private:
    void Release();

    uint64_t size_ = 0;
    // The descriptor, or on Windows the handle; -1 when closed.
    std::intptr_t handle_ = -1;
};

}  // namespace tamix
