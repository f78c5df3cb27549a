// The host's own handling of its command line: on Enter it takes the line,
// reports "received: TEXT", shows it in the history and clears the line.
#pragma once

#include <windows.h>

#include <string>

#include "host/program/host_frame.h"

// Puts the host's procedure on the command-line control, before any plug-in
// is loaded. With `focusAwayOnRead` the control hands the focus to the Notes
// bar whenever its selected text is read.
void AttachHostCommandLine(const HostFrame& frame, bool focusAwayOnRead);

std::string WindowTextUtf8(HWND window);
