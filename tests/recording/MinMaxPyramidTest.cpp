#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "recording/MinMaxPyramid.h"
#include "recording/WdqFileReader.h"

namespace tamix {
namespace {

// Summaries against a plain scan of the values, on seeded random recordings
// whose lengths are not multiples of any block.
TEST(MinMaxPyramid, MatchesAPlainScan) {
    test::TempDir dir;
    std::mt19937 rng(12345);
    for (const int scans : {0, 1, 15, 16, 17, 1000, 4097}) {
        test::WdqBytesSpec spec;
        std::uniform_int_distribution<int> word(-32768, 32767);
        for (int i = 0; i < scans * 2; ++i) spec.samples.push_back(static_cast<int16_t>(word(rng)));
        spec.events = {0, 0};
        const auto bytes = test::MakeWdqBytes(spec);
        const std::string path = dir.File("r" + std::to_string(scans) + ".wdq");
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        ASSERT_TRUE(reader) << error;
        std::vector<double> all(static_cast<std::size_t>(scans) * 2);
        ASSERT_TRUE(reader->ReadValues(0, scans, all));

        MinMaxPyramid pyramid(4);
        int64_t reported = -1;
        ASSERT_TRUE(pyramid.Build(
            *reader,
            [&](int64_t done, int64_t) {
                EXPECT_GE(done, reported);
                reported = done;
                return true;
            },
            error))
            << error;
        EXPECT_EQ(reported, scans);
        std::uniform_int_distribution<int> at(0, std::max(scans - 1, 0));
        for (int trial = 0; trial < 200 && scans > 0; ++trial) {
            int a = at(rng);
            int b = at(rng) + 1;
            if (a >= b) std::swap(a, b), ++b;
            b = std::min(b, scans);
            if (a >= b) continue;
            std::array<MinMax, 2> got{};
            ASSERT_TRUE(pyramid.Range(*reader, a, b, got));
            for (std::size_t k = 0; k < 2; ++k) {
                float lo = INFINITY;
                float hi = -INFINITY;
                for (int s = a; s < b; ++s) {
                    lo = std::min(lo, static_cast<float>(all[static_cast<std::size_t>(s) * 2 + k]));
                    hi = std::max(hi, static_cast<float>(all[static_cast<std::size_t>(s) * 2 + k]));
                }
                EXPECT_EQ(got[k].min, lo) << scans << " [" << a << "," << b << ") " << k;
                EXPECT_EQ(got[k].max, hi) << scans << " [" << a << "," << b << ") " << k;
            }
        }
        if (scans >= 100) {
            std::vector<MinMax> columns(2 * 7);
            ASSERT_TRUE(pyramid.Columns(*reader, 3, scans, 7, columns));
            std::array<MinMax, 2> whole{};
            ASSERT_TRUE(pyramid.Range(*reader, 3, scans, whole));
            float lo = INFINITY;
            for (int c = 0; c < 7; ++c)
                lo = std::min(lo, columns[static_cast<std::size_t>(c) * 2].min);
            EXPECT_EQ(lo, whole[0].min);
        }
    }
}

}  // namespace
}  // namespace tamix
