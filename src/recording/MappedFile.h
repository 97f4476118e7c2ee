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

  private:
    void Release();

    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace tamix
