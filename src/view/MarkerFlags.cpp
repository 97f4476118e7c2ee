#include "view/MarkerFlags.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

namespace tamix {

std::vector<FlagPlace> PlaceFlags(std::span<const FlagRequest> flags, const FlagArea& area) {
    std::vector<FlagPlace> places(flags.size());
    std::vector<std::size_t> order(flags.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return flags[a].x < flags[b].x; });
    // The first x each row leaves free.
    std::vector<int> free(static_cast<std::size_t>(std::max(area.rows, 0)),
                          std::numeric_limits<int>::min());
    // Whole and sharing its row with the next marker; else the number alone
    // doing so; else whole in a row of its own; else the number wherever it fits.
    struct Try {
        bool numberOnly;
        bool clearing;
    };
    constexpr Try kTries[] = {{false, true}, {true, true}, {false, false}, {true, false}};
    for (std::size_t n = 0; n < order.size(); ++n) {
        const FlagRequest& f = flags[order[n]];
        const int64_t next =
            n + 1 < order.size() ? flags[order[n + 1]].x : std::numeric_limits<int64_t>::max();
        for (const Try t : kTries) {
            const int width = t.numberOnly ? f.numberWidth : f.fullWidth;
            const int left = std::max(area.left, std::min(f.x, area.right - width));
            if (t.clearing && int64_t{left} + width + area.gap > next) continue;
            const auto row = std::find_if(free.begin(), free.end(),
                                          [&](int firstFree) { return left >= firstFree; });
            if (row == free.end()) continue;
            places[order[n]] = {true, t.numberOnly, static_cast<int>(row - free.begin()), left,
                                width};
            *row = left + width + area.gap;
            break;
        }
    }
    return places;
}

}  // namespace tamix
