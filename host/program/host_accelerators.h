// The frame's keyboard accelerators, which the host's message loop
// translates before dispatching, as an MFC frame's PreTranslateMessage does:
// a key press taken by one never reaches the focused window.
//
//   keys     command sent to the main window
//   -------  -------------------------------
//   Ctrl+S   ID_FILE_SAVE (0xE103)
//   Ctrl+N   ID_FILE_NEW (0xE100)
#pragma once

#include <windows.h>

// From now on the message loop translates the accelerators for `frame`.
void UseHostAccelerators(HWND frame);

// Whether the message was a key press of an accelerator, already sent on
// as its command; false too while no accelerators are in use.
bool TranslateHostAccelerator(MSG& message);
