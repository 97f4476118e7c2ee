// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, a closed terminal) end the
// desktop program as Stop and Exit would: a run stops, its file is completed,
// then the program quits. User interface thread.
#pragma once

#include <functional>

namespace tamix {

class WorkerThread;

// Installs the handlers. `worker` is the view's worker; `quit` ends the program
// once the file is complete.
void HandleTerminationSignals(WorkerThread* worker, std::function<void()> quit);

// What a termination signal does; also the answer to the end of the session.
void StopRunAndQuit();

}  // namespace tamix
