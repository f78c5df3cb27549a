// What the host watches of the plug-in's calls to the system: it reports
// every MessageBeep of the plug-in as "beep", since a beep cannot be heard
// in a test.
#pragma once

#include <windows.h>

// False when the plug-in does not import MessageBeep.
bool ObservePlugInBeeps(HMODULE plugIn);
