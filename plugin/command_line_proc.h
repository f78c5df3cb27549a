// The window procedure that turns the host's command line into a calculator.
#pragma once

#include <windows.h>

// The hooked command-line control and its procedure before the hook; set
// when the hook is installed, kept while CommandLineProc is in the
// control's chain.
extern HWND CommandLineWindow;
extern WNDPROC PreviousCommandLineProc;
// False from an unload to the next load: CommandLineProc, left in the chain
// beneath another plug-in's subclass, then only passes every message on.
extern bool CommandLineEvaluates;

// When Enter goes down in the command line, or Ctrl is tapped alone there,
// and the command line has the focus, replaces its text with the value of
// the formula it holds (undoably), or beeps when it holds no formula; some
// lines stay as the host reads them (see JudgeCommandLine). Every message
// then goes on to PreviousCommandLineProc, whose result it returns. It is a
// Unicode window procedure: install it with SetWindowLongPtrW, so that the
// control keeps every character typed into it.
LRESULT CALLBACK CommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The WH_MOUSE hook of the command line's thread: a click or a wheel notch
// in any of the host's windows while Ctrl is down makes it no lone tap.
LRESULT CALLBACK CommandLineMouseProc(int code, WPARAM message, LPARAM details);

// The WH_KEYBOARD hook of the command line's thread: it sees every key the
// thread takes from its queue, before the host translates accelerators, so
// a key that never reaches the command line (Ctrl+S taken by the host's
// frame) makes Ctrl held meanwhile no lone tap.
LRESULT CALLBACK CommandLineKeyboardProc(int code, WPARAM key, LPARAM details);
