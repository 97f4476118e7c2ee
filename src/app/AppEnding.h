// How the desktop program ends when told to from outside (a signal, the end of
// the session, the display going away), whatever is on screen: a run stops and
// its file is completed, open dialogs are closed innermost first, then the
// program quits. User interface thread.
#pragma once

#include <functional>

namespace tamix {

class WorkerThread;

// `worker` is the view's worker; `quit` closes the main window once the file
// is complete and no dialog is open; `saveSettings` keeps the profile's own
// keys when the program cannot close its windows any more.
void SetEndingActions(WorkerThread* worker, std::function<void()> quit,
                      std::function<void()> saveSettings);
// Forgets them, at the application's exit.
void ReleaseEndingActions();

// Stops a run, completes its file and quits the program. Safe in any event
// loop, a dialog's included: nothing is destroyed under a dialog still open.
void StopRunAndQuit();
// True once StopRunAndQuit has begun.
bool Ending();

// The display is gone and no window can be closed: the run is stopped and its
// file completed, the settings saved, and the process ends with `status`.
[[noreturn]] void StopRunAndExitNow(int status);

}  // namespace tamix
