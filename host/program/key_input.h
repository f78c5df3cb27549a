// Real keyboard input through SendInput, and the message loop that delivers
// it to the focused window.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

void TypeText(std::wstring_view text);
void PressKey(WORD virtualKey);
// Presses the keys in order and releases them in reverse order.
void PressChord(const std::vector<WORD>& virtualKeys);
// The key of a name: ctrl, shift, alt, enter, left, right, home, end, a-z, 0-9.
std::optional<WORD> KeyNamed(std::string_view name);
// Handles the messages in the queue; false when there were none.
bool DispatchQueuedMessages();
// Handles every message until the queue has stayed empty for a while, so
// that the input sent before has reached its window.
void ProcessPendingMessages();
