// The recorder's terminal on this system: being told to go (signals on Linux,
// console events on Windows) and lines typed on standard input.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

namespace tamix {

// Every way of being told to go (Ctrl-C, Ctrl-Break, kill, a closed terminal or
// console window) sets `stop` and calls `onStop` (when given) at once, so that
// nobody has to poll for it; `onStop` must be safe in a signal handler (a
// lock-free atomic store or exchange). Where the system ends the process once
// told (a closed console), the handler waits, for a few seconds at most, until
// `finished` is set, so that the file is completed first.
void InstallStopHandlers(std::atomic<bool>& stop, const std::atomic<bool>& finished,
                         void (*onStop)() = nullptr);

bool StderrIsTerminal();

// Waits of ReadStandardInput that only new input or WakeStandardInput end.
inline constexpr std::chrono::milliseconds kNoDeadline{-1};

// Up to `size` bytes of standard input (UTF-8), waiting at most `wait`:
// the number read, 0 when nothing came in time or the wait was woken, -1 at
// the end of input.
long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds wait);

// Ends the current and every later wait of ReadStandardInput, from any thread.
void WakeStandardInput();

}  // namespace tamix
