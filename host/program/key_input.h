// Real keyboard input through SendInput, and the message loop that delivers
// it to the focused window.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

struct Key {
  WORD Virtual;
  bool Extended = false;  // sent with the extended-key flag, as the keyboard does
};

void TypeText(std::wstring_view text);
void PressKey(Key key);
// Presses the keys in order and releases them in reverse order.
void PressChord(const std::vector<Key>& keys);
// Presses, or releases, one key and leaves it so.
void PressDown(Key key);
void Release(Key key);
// The key of a name: ctrl, shift, alt, enter, numenter (the keypad's),
// escape, tab, space, back, delete, left, right, up, down, home, end,
// a-z, 0-9.
std::optional<Key> KeyNamed(std::string_view name);
// Handles the messages in the queue, the host's accelerators first; false
// when there were none.
bool DispatchQueuedMessages();
// Handles every message until the queue has stayed empty for a while, so
// that the input sent before has reached its window.
void ProcessPendingMessages();
// Handles every message for the given time.
void HandleMessagesFor(DWORD milliseconds);
