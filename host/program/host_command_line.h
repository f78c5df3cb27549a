// The host's own handling of its command line: on Enter it takes the line,
// reports "received: TEXT" and clears it.
#pragma once

#include <windows.h>

#include <string>

// Puts the host's procedure on the command-line control, before any plug-in
// is loaded.
void AttachHostCommandLine(HWND commandLine);
WNDPROC HostCommandLineProcedure();

std::string WindowTextUtf8(HWND window);
