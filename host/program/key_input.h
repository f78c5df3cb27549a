// Real keyboard input through SendInput, and the message loop that delivers
// it to the focused window.
#pragma once

#include <windows.h>

#include <string_view>

void TypeText(std::wstring_view text);
void PressKey(WORD virtualKey);
// Handles the messages in the queue; false when there were none.
bool DispatchQueuedMessages();
// Handles every message until the queue has stayed empty for a while, so
// that the input sent before has reached its window.
void ProcessPendingMessages();
