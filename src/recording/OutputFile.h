// The output-file seam: a buffered binary file, locked while open, that
// reports every failed write, patch, flush and close with the system's reason;
// and files that replace another only once they are complete. Tests replace
// it to simulate a full disk.
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
    // Cuts the file back to its first `size` bytes, dropping what is still
    // buffered: after a failed write, so that the file ends after its last
    // whole record. Works after a failure, like PatchAt. A file that cannot be
    // cut (a stream) answers false and keeps what it has.
    virtual bool Truncate(uint64_t size) {
        static_cast<void>(size);
        return false;
    }
    // Flushes and closes; false when anything written could not reach the file.
    virtual bool Close() = 0;
    // The system's reason for the first failure ("No space left on device").
    virtual std::string Error() const = 0;
};

// The reason a file that a recorder holds cannot be written.
inline constexpr std::string_view kBeingRecordedReason = "it is being recorded by another program";

// A new file that takes the place of its target only once it is complete:
// written under no name, or a temporary one in the target's folder, and
// renamed over the target by Commit. Until then the target keeps every byte,
// and a recorder cannot start on it. Dropped without Commit, or after a
// failure, it leaves nothing behind (a process killed meanwhile leaves at most
// a temporary file where the system cannot write a file without a name).
class ReplacementFile : public OutputFile {
  public:
    // Close() makes the bytes durable without naming the file.
    // Puts the file in its target's place; false with Error() set. After Close.
    virtual bool Commit() = 0;
    // A name that opens this file for writing, for writers that want a name
    // rather than bytes; whatever they write there is what Commit puts in place.
    virtual std::string WritablePath() const = 0;
};

// A recording's data file, locked as a recorder's from its creation. Beside
// an existing target it is written under no name (or a hidden temporary one)
// while the target keeps every byte and the recorder's lock, and TakePlace
// renames it over the target; a target that did not exist is created under
// its own name at once. So a run that ends before TakePlace can leave the disk
// as it found it.
class RecordingFile : public OutputFile {
  public:
    // Puts the file under the target's name and keeps it open for writing;
    // true at once when it is there already. False with Error() set.
    virtual bool TakePlace() = 0;
    virtual bool Placed() const = 0;
    // Closes the file and removes it: an earlier target keeps every byte, a
    // target this file created is gone again.
    virtual void Discard() = 0;
};

// The reason given for an output that is a pipe, a device or a socket.
inline constexpr std::string_view kNotRegularReason =
    "it is not a regular file (a pipe, a device or a socket)";

// Creates output files; the worker asks it for its recordings, exports and
// repairs for replacements.
class FileOpener {
  public:
    virtual ~FileOpener() = default;
    // A recording's data file for `path` (see RecordingFile); nullptr with
    // `error` holding the reason when it cannot be created, the target is
    // being recorded (kBeingRecordedReason) or is no regular file
    // (kNotRegularReason). A symbolic link's file is replaced, not the link.
    virtual std::unique_ptr<RecordingFile> CreateRecording(const std::string& path,
                                                           std::string& error);
    // Created or truncated in place, locked against a second recorder; nullptr
    // when the file cannot be created, `error` then holding the reason.
    virtual std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error) = 0;
    // A file that will replace `target` (or create it) once committed. Takes
    // the recorder's lock on an existing target first, without waiting: a file
    // being recorded gives nullptr and kBeingRecordedReason in `error`, as does
    // any other failure its own reason. A symbolic link's file is replaced, not
    // the link.
    virtual std::unique_ptr<ReplacementFile> CreateReplacement(const std::string& target,
                                                               std::string& error);
    // Whether `path` names an existing file.
    virtual bool Exists(const std::string& path);
    // Whether `path` could be created or overwritten by a recording, found
    // out without changing an existing file and without waiting (a pipe is
    // refused, not opened); `error` gets the system's reason.
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
