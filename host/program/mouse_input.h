// Real mouse input through SendInput, aimed at the middle of a window.
#pragma once

#include <windows.h>

// A left click, or one notch of the wheel away from the user, in the middle
// of the window; the messages it brings are handled before it returns.
void ClickIn(HWND window);
void WheelIn(HWND window);
