#include "host/program/key_input.h"

#include <vector>

#include "host/program/plugin_observers.h"

namespace {

constexpr int kQuietRoundsBeforeIdle = 3;
constexpr DWORD kQuietRoundMilliseconds = 20;

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

void PressKey(WORD virtualKey) {
  std::vector<INPUT> inputs = {KeyboardInput(virtualKey, 0, 0), KeyboardInput(virtualKey, 0, KEYEVENTF_KEYUP)};
  Send(inputs);
}

bool DispatchQueuedMessages() {
  MSG message;
  bool handled = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    handled = true;
    ObserveKeyMessage(message);
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return handled;
}

void ProcessPendingMessages() {
  for (int quietRounds = 0; quietRounds < kQuietRoundsBeforeIdle;) {
    if (DispatchQueuedMessages()) {
      quietRounds = 0;
    } else {
      ++quietRounds;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, kQuietRoundMilliseconds, QS_ALLINPUT);
    }
  }
}
