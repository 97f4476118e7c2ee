#include "app/TerminationSignals.h"

#include <wx/app.h>

#include <csignal>

#if defined(__WXGTK__)
#include <X11/Xlib.h>
#endif

#include "app/AppEnding.h"

namespace tamix {
namespace {

// Called by the toolkit from its event loop, not in signal context.
void OnTerminationSignal(int) {
    StopRunAndQuit();
}

#if defined(__WXGTK__)
// Called by Xlib when the connection to the X server breaks (the session
// ended, the server went away). Xlib ends the process if this returns, and
// no window can be closed any more: the file is completed here.
int OnDisplayLost(Display*) {
    StopRunAndExitNow(0);
}
#endif

}  // namespace

void HandleTerminationSignals() {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        wxTheApp->SetSignalHandler(sig, OnTerminationSignal);
    }
#if defined(__WXGTK__)
    // After the toolkit opened the display, so that this handler replaces its
    // own, which ends the process at once.
    XSetIOErrorHandler(OnDisplayLost);
#endif
}

}  // namespace tamix
