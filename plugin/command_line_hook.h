// Finds the host's command-line control and puts CommandLineProc in place as
// its window procedure.
#pragma once

#include <windows.h>

#include "plugin/host_interface.h"

// Index of the command bar's title in the host's title table.
inline constexpr int CommandBarTitleIndex = 0;

// Run by the load handler: hooks the third "RichEdit20W" window under the
// host's command bar, and watches the mouse and the keyboard of its thread.
// A second call before an unload does nothing; a call after an unload
// searches afresh, unless our procedure stayed in the control's chain, and
// the command line evaluates again. Without a command line nothing is
// installed.
void InstallCommandLineHook();

// Run by the unload handler. Gives the control its previous procedure back
// if ours is on top; beneath another plug-in's subclass ours stays, only
// passing messages on. Either way the command line evaluates nothing more,
// and the module stays loaded until the process ends.
void RemoveCommandLineHook();

// The host's control bar whose title is the localised entry `index` of the
// title table, or null.
CWnd* FindHostControlBar(int index);

// EnumChildWindows callback that counts "RichEdit20W" windows and takes the
// third as the command line.
BOOL CALLBACK FindCommandLineEditProc(HWND window, LPARAM unused);
