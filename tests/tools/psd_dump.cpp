// Writes the power density of scans [FIRST, LAST) of every channel of a recording
// to a CSV file, for the script that checks it against SciPy.
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "recording/OpenRecording.h"
#include "recording/PowerDensity.h"
#include "recording/PowerDensityExport.h"

int main(int argc, char** argv) {
    using namespace tamix;
    if (argc != 5) {
        std::fprintf(stderr, "usage: psd_dump FILE FIRST LAST OUT.csv\n");
        return 2;
    }
    std::string error;
    auto reader = OpenRecording(argv[1], error);
    if (!reader) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::size_t> channels(reader->Info().channels.size());
    std::iota(channels.begin(), channels.end(), std::size_t{0});
    PowerDensity psd;
    if (!ComputePowerDensity(*reader, std::atoll(argv[2]), std::atoll(argv[3]), channels, {}, psd,
                             error) ||
        !ExportPowerDensityCsv(psd, reader->Info(), channels, argv[4], DefaultFileOpener(),
                               error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%zu %zu\n", psd.shape.segmentScans, psd.shape.segments);
    return 0;
}
