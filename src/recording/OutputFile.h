// The output-file seam: a buffered binary file, locked while open, that
// reports every failed write, patch, flush and close with the system's reason.
// Tests replace it to simulate a full disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tamix {

class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Appends at the end of what was written so far.
    virtual bool Write(const void* data, std::size_t size) = 0;
    // Overwrites bytes already in the file (header back-patches). Works after a
    // failed append too: buffered bytes that could not be written are dropped.
    virtual bool PatchAt(uint64_t offset, const void* data, std::size_t size) = 0;
    // Hands everything buffered to the system; false when it could not be written.
    virtual bool Flush() = 0;
    // The bytes that have reached the file.
    virtual uint64_t DurableSize() = 0;
    // Flushes and closes; false when anything written could not reach the file.
    virtual bool Close() = 0;
    // The system's reason for the first failure ("No space left on device").
    virtual std::string Error() const = 0;
};

// Creates (truncating) files; the worker asks it for its output files.
class FileOpener {
  public:
    virtual ~FileOpener() = default;
    // nullptr when the file cannot be created; `error` then holds the reason.
    virtual std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) = 0;
    // Whether `path` names an existing file.
    virtual bool Exists(const std::string& path);
    // Whether `path` could be created or overwritten, found out without
    // changing an existing file; `error` gets the system's reason.
    virtual bool CanCreate(const std::string& path, std::string& error);
};

// Files on disk, locked against a second writer and truncated once locked.
class DiskFileOpener final : public FileOpener {
  public:
    std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) override;
};

FileOpener& DefaultFileOpener();

// Whether a recorder, in this process or another, has `path` open for writing:
// a recording that is still going on. The answer holds for the moment it is
// given; a missing file is held by no one.
bool HeldByRecorder(const std::string& path);

}  // namespace tamix
