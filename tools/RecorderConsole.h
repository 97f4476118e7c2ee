// The recorder's terminal on this system: being told to go (signals on Linux,
// console events on Windows) and lines typed on standard input.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

namespace tamix {

// Every way of being told to go (Ctrl-C, Ctrl-Break, kill, a closed terminal or
// console window) sets `stop`. Where the system ends the process once told
// (a closed console), the handler waits, for a few seconds at most, until
// `finished` is set, so that the file is completed first.
void InstallStopHandlers(std::atomic<bool>& stop, const std::atomic<bool>& finished);

bool StderrIsTerminal();

// Up to `size` bytes of standard input (UTF-8), waiting at most `wait`:
// the number read, 0 when nothing came in time, -1 at the end of input.
long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds wait);

}  // namespace tamix
