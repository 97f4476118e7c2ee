// Windows has no termination signals for a windowed program: the end of the
// session arrives as the toolkit's end-session event, which calls
// StopRunAndQuit like the signals do elsewhere.
#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "app/TerminationSignals.h"

namespace tamix {
namespace {

WorkerThread* gWorker = nullptr;
std::function<void()> gQuit;

}  // namespace

void HandleTerminationSignals(WorkerThread* worker, std::function<void()> quit) {
    gWorker = worker;
    gQuit = std::move(quit);
}

void StopRunAndQuit() {
    TheSetup().RequestStop();
    // The worker completes the file at the end of its current cycle.
    if (gWorker != nullptr) gWorker->Join();
    if (gQuit) gQuit();
}

}  // namespace tamix
