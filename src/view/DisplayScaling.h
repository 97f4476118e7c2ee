// Per-channel display gain and offset, and the rules by which the three icons
// and the Tools commands change them. Only drawing depends on them.
#pragma once

#include <array>
#include <optional>

#include "acquisition/MeasurementSetup.h"
#include "view/ViewGeometry.h"

namespace tamix {

struct IconHit {
    int channel = 0;
    int zone = 0;  // 0 magnifier, 1 wedge, 2 double arrow, 3+ no icon
};

enum class MouseButton { Left, Right };

// Which channel and icon zone a click hits, or nothing outside the icon
// column. Layouts without strips (no channel, or strips under 3 pixels) hit nothing.
std::optional<IconHit> HitTestIconColumn(const ViewLayout& layout, int x, int y);

class DisplayScaling {
  public:
    DisplayScaling() { ResetAll(); }

    int gain(int c) const { return gain_[c]; }
    int offset(int c) const { return offset_[c]; }
    void Set(int c, int gain, int offset) {
        gain_[c] = gain;
        offset_[c] = offset;
    }

    // The action of a click on an icon; `points` is the current displayColumn.
    void Click(const IconHit& hit, MouseButton button, const MeasurementSetup& setup, int points);
    // Gain and offset of channel `c` from rows 0..points-1 of the display buffer.
    void AutoscaleChannel(int c, const MeasurementSetup& setup, int points);
    // The same rule for a trace whose samples span lo..hi.
    void FitRange(int c, int lo, int hi);
    // The icon actions that need no trace: reset (right-click on the
    // magnifier), volume and shift. False for the magnifier's left click.
    bool Step(const IconHit& hit, MouseButton button);
    void ResetAll();
    // False (nothing done) with fewer than 100 points.
    bool AutoscaleAll(const MeasurementSetup& setup, int points);

  private:
    std::array<int, 8> gain_{};
    std::array<int, 8> offset_{};
};

}  // namespace tamix
