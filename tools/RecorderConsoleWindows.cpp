// The recorder's console on Windows: Ctrl-C, Ctrl-Break, a closed console
// window, log-off and shut-down stop; standard input (a console, a pipe or a
// file) is read by a thread of its own, so that waiting for it has a deadline.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "RecorderConsole.h"
#include "base/WindowsText.h"

namespace tamix {
namespace {

std::atomic<bool>* gStop = nullptr;
const std::atomic<bool>* gFinished = nullptr;
void (*gOnStop)() = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (gStop == nullptr) return FALSE;
    gStop->store(true);
    if (gOnStop != nullptr) gOnStop();
    // After these the system ends the process as soon as the handler returns
    // (and after 5 s at most): wait for the file to be completed.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 90 && gFinished != nullptr && !gFinished->load(); ++i) ::Sleep(50);
    }
    return TRUE;
}

// Standard input read by a thread of its own, which may block for good in the
// system's read (a console waits for Enter; Wine cannot peek into a pipe).
// Never freed: the thread may still be blocked in the read when the process
// ends, and must not find its state destroyed if the read returns then.
struct InputReader {
    std::mutex mutex;
    std::condition_variable arrived;
    std::string bytes;
    bool ended = false;
    bool woken = false;

    void Run() {
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        const bool console =
            in != nullptr && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode);
        for (;;) {
            std::string got;
            DWORD n = 0;
            if (console) {
                wchar_t wide[512];
                if (::ReadConsoleW(in, wide, 512, &n, nullptr) && n > 0)
                    got = Utf8FromWide(std::wstring_view(wide, n));
            } else {
                char buf[512];
                if (in != nullptr && in != INVALID_HANDLE_VALUE &&
                    ::ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0)
                    got.assign(buf, n);
            }
            const std::lock_guard lock(mutex);
            if (got.empty()) {
                ended = true;
                arrived.notify_all();
                return;
            }
            bytes += got;
            arrived.notify_all();
        }
    }
};

InputReader& Reader() {
    static InputReader* reader = [] {
        auto* r = new InputReader;
        std::thread([r] { r->Run(); }).detach();
        return r;
    }();
    return *reader;
}

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop, const std::atomic<bool>& finished,
                         void (*onStop)()) {
    gStop = &stop;
    gFinished = &finished;
    gOnStop = onStop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds wait) {
    InputReader& r = Reader();
    std::unique_lock lock(r.mutex);
    const auto ready = [&r] { return !r.bytes.empty() || r.ended || r.woken; };
    if (wait < std::chrono::milliseconds::zero()) {
        r.arrived.wait(lock, ready);
    } else {
        r.arrived.wait_for(lock, wait, ready);
    }
    if (r.bytes.empty()) return r.ended ? -1 : 0;
    const std::size_t n = std::min(size, r.bytes.size());
    std::memcpy(buffer, r.bytes.data(), n);
    r.bytes.erase(0, n);
    return static_cast<long>(n);
}

void WakeStandardInput() {
    InputReader& r = Reader();
    const std::lock_guard lock(r.mutex);
    r.woken = true;
    r.arrived.notify_all();
}

}  // namespace tamix
