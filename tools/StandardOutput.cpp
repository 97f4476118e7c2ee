#include "StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace tamix::cli {
namespace {

// The reason of the first write that failed: a text longer than the stream's
// buffer fails inside fwrite, and the final flush then has nothing to say.
int gWriteError = 0;

}  // namespace

void PrepareStandardOutput() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool FinishStandardOutput(std::string& reason) {
    // A failed write keeps its bytes in the buffer, so the flush fails again
    // and leaves the system's reason in errno.
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::ferror(stdout) == 0) return true;
    const int err = gWriteError != 0 ? gWriteError : errno;
    reason = err != 0 ? std::strerror(err) : "it could not be written";
    return false;
}

void Print(std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && gWriteError == 0)
        gWriteError = errno;
}

}  // namespace tamix::cli
