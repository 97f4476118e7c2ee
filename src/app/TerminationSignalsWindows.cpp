// Windows has no termination signals for a windowed program: the end of the
// session arrives as the toolkit's end-session event, which calls
// StopRunAndQuit like the signals do elsewhere.
#include "app/TerminationSignals.h"

namespace tamix {

void HandleTerminationSignals() {}

}  // namespace tamix
