// What the host watches of the plug-in's calls to the system. The host
// reports every MessageBeep of the plug-in as "beep", since a beep cannot be
// heard in a test. In the Ctrl test mode it also completes the plug-in's
// GetAsyncKeyState(VK_CONTROL) with the bit that Wine never sets: "pressed
// since the last query", taken from the Ctrl key-down messages that the
// host's message loop hands out.
#pragma once

#include <windows.h>

// False when the plug-in does not import the functions to be watched.
bool ObservePlugInBeeps(HMODULE plugIn);
bool SupplyCtrlPressBit(HMODULE plugIn);

// Called by the message loop for every message before it is dispatched.
void ObserveKeyMessage(const MSG& message);
