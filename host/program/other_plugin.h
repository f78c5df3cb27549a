// Another plug-in of the host that subclasses the command line too, the
// classic way: it sets its procedure with SetWindowLongPtr and passes every
// message on to the procedure it replaced.
#pragma once

#include <windows.h>

// Puts the other plug-in's procedure on top of whatever the control has,
// once.
void SubclassAsAnotherPlugIn(HWND commandLine);

// The procedure below the other plug-in's, if it is on top of the control;
// otherwise the control's own procedure.
LONG_PTR ProcedureBelowOtherPlugIn(HWND commandLine);
