// tamix: the desktop program.
#include "app/CTamixApp.h"

wxIMPLEMENT_APP(tamix::CTamixApp);
