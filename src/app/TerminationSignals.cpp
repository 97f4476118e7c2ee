#include "app/TerminationSignals.h"

#include <wx/app.h>

#include <csignal>

#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"

namespace tamix {
namespace {

WorkerThread* gWorker = nullptr;
std::function<void()> gQuit;

// Called by the toolkit from its event loop, not in signal context.
void OnTerminationSignal(int) {
    StopRunAndQuit();
}

}  // namespace

void HandleTerminationSignals(WorkerThread* worker, std::function<void()> quit) {
    gWorker = worker;
    gQuit = std::move(quit);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        wxTheApp->SetSignalHandler(sig, OnTerminationSignal);
    }
}

void StopRunAndQuit() {
    TheSetup().RequestStop();
    // The worker completes the file at the end of its current cycle.
    if (gWorker != nullptr) gWorker->Join();
    if (gQuit) gQuit();
    // A closed frame is deleted, and the program ends, when the event loop next
    // goes idle; with the run's refresh stopped nothing else may bring that on.
    wxWakeUpIdle();
}

}  // namespace tamix
