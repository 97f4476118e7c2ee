// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, a closed terminal) and the
// loss of the display end the desktop program as Stop and Exit would: a run
// stops, its file is completed, then the program quits. User interface thread.
#pragma once

namespace tamix {

// Installs the handlers, which end the program through StopRunAndQuit (or,
// without a display, StopRunAndExitNow). Windows has neither: the end of its
// session arrives as the toolkit's end-session event.
void HandleTerminationSignals();

}  // namespace tamix
