// Checks a WinDaq file with the tests' own reader, as the end-to-end tests do:
// prints its shape and markers, fails on a malformed file or one with fewer
// scans or markers than asked for. Used on recordings other builds made.
//   wdq_check FILE [MIN_SCANS [MIN_MARKERS]]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "WdqReader.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wdq_check FILE [MIN_SCANS [MIN_MARKERS]]\n");
        return 2;
    }
    std::string error;
    const auto file = tamix::test::ReadWdq(tamix::test::ReadBytes(argv[1]), error);
    if (!file) {
        std::fprintf(stderr, "wdq_check: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::printf("%s: %d channel(s), %lld scans at %g s, %zu marker(s)\n", argv[1],
                file->channelCount, static_cast<long long>(file->ScanCount()), file->period,
                file->markers.size());
    for (const auto& m : file->markers)
        std::printf("  scan %lld: %s\n", static_cast<long long>(m.scan), m.comment.c_str());
    const long long minScans = argc > 2 ? std::atoll(argv[2]) : 1;
    const std::size_t minMarkers = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    if (file->ScanCount() < minScans || file->markers.size() < minMarkers) {
        std::fprintf(stderr, "wdq_check: %s: fewer scans or markers than expected\n", argv[1]);
        return 1;
    }
    return 0;
}
