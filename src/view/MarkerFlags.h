// Where the review canvas puts its marker flags so that none covers another.
// Pure arithmetic on pixel positions and text widths, tested without a display.
#pragma once

#include <span>
#include <vector>

namespace tamix {

struct FlagRequest {
    int x = 0;            // the marker's line
    int fullWidth = 0;    // the flag with number and comment
    int numberWidth = 0;  // the flag with the number alone
};

struct FlagPlace {
    bool shown = false;       // false: no room even for the number
    bool numberOnly = false;  // the comment did not fit
    int row = 0;              // 0 is the top row
    int left = 0;
    int width = 0;
};

struct FlagArea {
    int left = 0;  // flags stay within [left, right)
    int right = 0;
    int rows = 1;  // rows of flags that fit below each other
    int gap = 2;   // pixels kept free between two flags in a row
};

// Flags hang from their marker's line to the right (to the left of it where
// the area ends), markers taken from left to right, each in the top row where
// it clears the flags already there by `gap`. A flag goes whole into a row
// that it leaves free again before the next marker's line; failing that, with
// its number alone into such a row; failing that, whole into any row (the
// next marker then takes another); failing that, as a number wherever it
// fits; else it is left out (the marker list and the line's tip still name
// it). One place per request, in the requests' order.
std::vector<FlagPlace> PlaceFlags(std::span<const FlagRequest> flags, const FlagArea& area);

}  // namespace tamix
