// The window procedure that turns the host's command line into a calculator.
#pragma once

#include <windows.h>

// The hooked command-line control and its procedure before the hook; set
// once when the hook is installed.
extern HWND CommandLineWindow;
extern WNDPROC PreviousCommandLineProc;

// When Enter goes down in the command line, or Ctrl is tapped alone there,
// and the command line has the focus, replaces its text with the value of
// the formula it holds (undoably), or beeps when it holds no formula. Every
// message then goes on to PreviousCommandLineProc, whose result it returns.
// It is a Unicode window procedure: install it with SetWindowLongPtrW, so
// that the control keeps every character typed into it.
LRESULT CALLBACK CommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
