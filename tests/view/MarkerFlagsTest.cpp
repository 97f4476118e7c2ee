// Marker flags in rows: where each goes for markers far apart, touching, close
// and at one place, and that no two ever cover each other.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "view/MarkerFlags.h"

namespace tamix {
namespace {

constexpr int kFull = 80;
constexpr int kNumber = 12;

struct Want {
    bool shown;
    bool numberOnly;
    int row;
    int left;
};

TEST(MarkerFlagsTest, FlagsGoToTheFirstRowWithRoom) {
    struct Case {
        const char* what;
        int rows;
        std::vector<int> xs;
        std::vector<Want> want;
    };
    const Want hidden{false, false, 0, 0};
    const std::vector<Case> cases = {
        {"far apart",
         3,
         {100, 300, 600},
         {{true, false, 0, 100}, {true, false, 0, 300}, {true, false, 0, 600}}},
        {"in any order",
         3,
         {600, 100, 300},
         {{true, false, 0, 600}, {true, false, 0, 100}, {true, false, 0, 300}}},
        // The first flag would end where the second begins: it keeps its number.
        {"touching", 2, {100, 180}, {{true, true, 0, 100}, {true, false, 0, 180}}},
        {"close",
         2,
         {100, 140, 180},
         {{true, true, 0, 100}, {true, true, 0, 140}, {true, false, 0, 180}}},
        // Closer than a number: whole flags in rows of their own, then none.
        {"closer than a number",
         2,
         {100, 105, 110},
         {{true, false, 0, 100}, {true, false, 1, 105}, hidden}},
        {"many at one place",
         3,
         {500, 500, 500, 500, 500},
         {{true, false, 0, 500}, {true, false, 1, 500}, {true, false, 2, 500}, hidden, hidden}},
        {"one row", 1, {500, 500}, {{true, false, 0, 500}, hidden}},
        // At the right end a flag hangs to the left of its line.
        {"at the right end", 2, {990}, {{true, false, 0, 920}}},
        {"two at the right end", 2, {950, 960}, {{true, false, 0, 920}, {true, false, 1, 920}}},
    };
    const FlagArea base{0, 1000, 1, 3};
    for (const Case& c : cases) {
        std::vector<FlagRequest> requests;
        for (const int x : c.xs) requests.push_back({x, kFull, kNumber});
        FlagArea area = base;
        area.rows = c.rows;
        const std::vector<FlagPlace> places = PlaceFlags(requests, area);
        ASSERT_EQ(places.size(), c.want.size()) << c.what;
        for (std::size_t i = 0; i < places.size(); ++i) {
            const Want& w = c.want[i];
            EXPECT_EQ(places[i].shown, w.shown) << c.what << " flag " << i;
            if (!w.shown || !places[i].shown) continue;
            EXPECT_EQ(places[i].numberOnly, w.numberOnly) << c.what << " flag " << i;
            EXPECT_EQ(places[i].row, w.row) << c.what << " flag " << i;
            EXPECT_EQ(places[i].left, w.left) << c.what << " flag " << i;
            EXPECT_EQ(places[i].width, w.numberOnly ? kNumber : kFull) << c.what << " flag " << i;
        }
    }
}

// Whatever the markers, flags in one row keep the gap between them, stay in
// the area and in their rows, and each lies on its marker's line.
TEST(MarkerFlagsTest, NoTwoFlagsEverCoverEachOther) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> x(40, 900);
    std::uniform_int_distribution<int> width(20, 160);
    std::uniform_int_distribution<int> count(1, 60);
    std::uniform_int_distribution<int> rows(1, 4);
    for (int round = 0; round < 300; ++round) {
        const FlagArea area{40, 900, rows(random), 3};
        std::vector<FlagRequest> requests(static_cast<std::size_t>(count(random)));
        for (FlagRequest& r : requests) {
            r.numberWidth = width(random) / 8 + 8;
            r.fullWidth = r.numberWidth + width(random);
            r.x = x(random);
        }
        const std::vector<FlagPlace> places = PlaceFlags(requests, area);
        int shown = 0;
        for (std::size_t i = 0; i < places.size(); ++i) {
            const FlagPlace& p = places[i];
            if (!p.shown) continue;
            ++shown;
            EXPECT_GE(p.row, 0);
            EXPECT_LT(p.row, area.rows);
            EXPECT_GE(p.left, area.left);
            EXPECT_LE(p.left + p.width, area.right);
            EXPECT_LE(p.left, requests[i].x);
            EXPECT_GE(p.left + p.width, requests[i].x);
            EXPECT_EQ(p.width, p.numberOnly ? requests[i].numberWidth : requests[i].fullWidth);
            for (std::size_t j = 0; j < i; ++j) {
                const FlagPlace& q = places[j];
                if (!q.shown || q.row != p.row) continue;
                EXPECT_TRUE(p.left >= q.left + q.width + area.gap ||
                            q.left >= p.left + p.width + area.gap)
                    << "flags " << j << " and " << i << " in row " << p.row;
            }
        }
        EXPECT_GE(shown, 1) << "the leftmost marker always has a flag";
    }
}

}  // namespace
}  // namespace tamix
