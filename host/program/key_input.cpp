#include "host/program/key_input.h"

#include <map>
#include <vector>

namespace {

constexpr int QuietRoundsBeforeIdle = 3;
constexpr DWORD QuietRoundMilliseconds = 20;

const std::map<std::string_view, WORD> NamedKeys = {
    {"ctrl", VK_CONTROL}, {"shift", VK_SHIFT}, {"alt", VK_MENU},  {"enter", VK_RETURN},
    {"left", VK_LEFT},    {"right", VK_RIGHT}, {"home", VK_HOME}, {"end", VK_END}};

// The keys that a keyboard sends with the extended-key flag: the arrows and
// the navigation block, apart from their twins on the numeric keypad.
bool IsExtendedKey(WORD virtualKey) {
  return virtualKey == VK_LEFT || virtualKey == VK_RIGHT || virtualKey == VK_HOME || virtualKey == VK_END;
}

INPUT KeyboardInput(WORD virtualKey, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = unit;
  input.ki.dwFlags = flags;
  return input;
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

void PressKey(WORD virtualKey) { PressChord({virtualKey}); }

void PressChord(const std::vector<WORD>& virtualKeys) {
  std::vector<INPUT> inputs;
  for (WORD key : virtualKeys) {
    inputs.push_back(KeyboardInput(key, 0, IsExtendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0));
  }
  for (auto key = virtualKeys.rbegin(); key != virtualKeys.rend(); ++key) {
    DWORD extended = IsExtendedKey(*key) ? KEYEVENTF_EXTENDEDKEY : 0;
    inputs.push_back(KeyboardInput(*key, 0, extended | KEYEVENTF_KEYUP));
  }
  Send(inputs);
}

std::optional<WORD> KeyNamed(std::string_view name) {
  if (auto named = NamedKeys.find(name); named != NamedKeys.end()) return named->second;
  if (name.size() != 1) return std::nullopt;
  char c = name.front();
  // The virtual keys of letters and digits are their upper-case characters.
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
    return static_cast<WORD>(c >= 'a' ? c - 'a' + 'A' : c);
  return std::nullopt;
}

bool DispatchQueuedMessages() {
  MSG message;
  bool handled = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    handled = true;
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
