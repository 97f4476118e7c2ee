// Standard output as a program's result: a write that fails there (a full
// disk, a closed pipe) is reported with its own exit status, never lost
// behind an exit status of success.
#pragma once

#include <string>
#include <string_view>

namespace tamix::cli {

// How messages name standard output.
inline constexpr std::string_view kStandardOutput = "standard output";

// Makes a closed pipe fail the write (EPIPE) instead of ending the process
// with SIGPIPE, whatever the parent left that signal set to, so that the
// program reports it. Call first thing in main. On Windows, where there is no
// such signal, it puts standard output in binary mode, so that exported files
// reach it byte for byte.
void PrepareStandardOutput();

// Flushes standard output (the C and C++ streams share its buffer); false
// with the system's reason when anything written to it could not be delivered.
bool FinishStandardOutput(std::string& reason);

// Writes `text` to standard output through its stream.
void Print(std::string_view text);

}  // namespace tamix::cli
