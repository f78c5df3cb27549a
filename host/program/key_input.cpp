#include "host/program/key_input.h"

#include <map>
#include <vector>

#include "host/program/host_accelerators.h"

namespace {

constexpr int QuietRoundsBeforeIdle = 3;
constexpr DWORD QuietRoundMilliseconds = 20;

// The keys that a keyboard sends with the extended-key flag are the arrows,
// the navigation block and the keypad's Enter.
const std::map<std::string_view, Key> NamedKeys = {{"ctrl", {VK_CONTROL}},
                                                   {"shift", {VK_SHIFT}},
                                                   {"alt", {VK_MENU}},
                                                   {"enter", {VK_RETURN}},
                                                   {"numenter", {VK_RETURN, true}},
                                                   {"escape", {VK_ESCAPE}},
                                                   {"tab", {VK_TAB}},
                                                   {"space", {VK_SPACE}},
                                                   {"back", {VK_BACK}},
                                                   {"left", {VK_LEFT, true}},
                                                   {"right", {VK_RIGHT, true}},
                                                   {"up", {VK_UP, true}},
                                                   {"down", {VK_DOWN, true}},
                                                   {"home", {VK_HOME, true}},
                                                   {"end", {VK_END, true}},
                                                   {"delete", {VK_DELETE, true}}};

INPUT KeyboardInput(WORD virtualKey, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = unit;
  input.ki.dwFlags = flags;
  return input;
}

INPUT KeyInput(Key key, bool release) {
  return KeyboardInput(key.Virtual, 0,
                       (key.Extended ? KEYEVENTF_EXTENDEDKEY : 0) | (release ? KEYEVENTF_KEYUP : 0));
}

void Send(std::vector<INPUT>& inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  ProcessPendingMessages();
}

}  // namespace

void TypeText(std::wstring_view text) {
  std::vector<INPUT> inputs;
  for (wchar_t unit : text) {
    inputs.push_back(KeyboardInput(0, unit, KEYEVENTF_UNICODE));
    inputs.push_back(KeyboardInput(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
  Send(inputs);
}

void PressKey(Key key) { PressChord({key}); }

void PressChord(const std::vector<Key>& keys) {
  std::vector<INPUT> inputs;
  for (Key key : keys) inputs.push_back(KeyInput(key, false));
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) inputs.push_back(KeyInput(*key, true));
  Send(inputs);
}

void PressDown(Key key) {
  std::vector<INPUT> inputs = {KeyInput(key, false)};
  Send(inputs);
}

void Release(Key key) {
  std::vector<INPUT> inputs = {KeyInput(key, true)};
  Send(inputs);
}

std::optional<Key> KeyNamed(std::string_view name) {
  if (auto named = NamedKeys.find(name); named != NamedKeys.end()) return named->second;
  if (name.size() != 1) return std::nullopt;
  char c = name.front();
  // The virtual keys of letters and digits are their upper-case characters.
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
    return Key{static_cast<WORD>(c >= 'a' ? c - 'a' + 'A' : c)};
  return std::nullopt;
}

bool DispatchQueuedMessages() {
  MSG message;
  bool handled = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    handled = true;
    if (TranslateHostAccelerator(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return handled;
}

void ProcessPendingMessages() {
  for (int quietRounds = 0; quietRounds < QuietRoundsBeforeIdle;) {
    if (DispatchQueuedMessages()) {
      quietRounds = 0;
    } else {
      ++quietRounds;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, QuietRoundMilliseconds, QS_ALLINPUT);
    }
  }
}

void HandleMessagesFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    DispatchQueuedMessages();
  }
}
