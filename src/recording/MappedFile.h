// Read-only view of a whole file through the system's memory mapping, so that
// readers can reach any byte of a multi-gigabyte recording without loading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tamix {

// Owns one mapping; moved, never copied. An empty file maps to an empty span.
class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps `path`; false with `error` holding the system's reason.
    bool Open(const std::string& path, std::string& error);

    std::span<const uint8_t> Bytes() const { return {data_, size_}; }
    uint64_t Size() const { return size_; }

    // Tells the system that the mapping is about to be read front to back.
    void AdviseSequential() const;

    // Copies bytes [offset, offset + out.size()) of the file into `out`; false
    // with the system's reason when they cannot be read. For passes over a
    // whole large file: a read call copies cached pages for a fraction of what
    // faulting them into the mapping costs. Any thread may call it at any time.
    bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const;

  private:
    void Release();

    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    // The open file on systems whose read calls take an offset; -1 elsewhere.
    int descriptor_ = -1;
};

}  // namespace tamix
