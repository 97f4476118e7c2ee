// The clock of stream time stamps: seconds of the monotonic clock, as LSL programs read it.
#pragma once

namespace tamix {

// Seconds since an arbitrary start (the system's monotonic clock, which LSL
// programs on the same host share), so that time probes between them give
// offsets near zero and a changed wall clock never moves a stamp.
double LslClock();

}  // namespace tamix
