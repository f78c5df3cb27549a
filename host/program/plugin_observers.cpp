#include "host/program/plugin_observers.h"

#include <cstdio>
#include <string>

#include "host/program/host_output.h"
#include "host/program/import_patch.h"

namespace {

using MessageBeepFunction = BOOL(WINAPI*)(UINT);
using GetAsyncKeyStateFunction = SHORT(WINAPI*)(int);

MessageBeepFunction systemMessageBeep = nullptr;
GetAsyncKeyStateFunction systemGetAsyncKeyState = nullptr;
bool ctrlPressedSinceQuery = false;

std::string BeepReport(UINT type) {
  if (type == MB_ICONEXCLAMATION) return "beep";
  char text[32];
  std::snprintf(text, sizeof text, "beep 0x%X", type);
  return text;
}

BOOL WINAPI ReportedMessageBeep(UINT type) {
  PrintLine(BeepReport(type));
  return systemMessageBeep(type);
}

// The query takes the press, as on Windows.
SHORT WINAPI CtrlCompletedGetAsyncKeyState(int virtualKey) {
  SHORT state = systemGetAsyncKeyState(virtualKey);
  if (virtualKey == VK_CONTROL) {
    if (ctrlPressedSinceQuery) state = static_cast<SHORT>(state | 1);
    ctrlPressedSinceQuery = false;
  }
  return state;
}

template <typename Function>
bool Replace(HMODULE plugIn, const char* name, Function replacement, Function& system) {
  void* previous = ReplaceImportedFunction(plugIn, "user32.dll", name, reinterpret_cast<void*>(replacement));
  system = reinterpret_cast<Function>(previous);
  return previous != nullptr;
}

}  // namespace

bool ObservePlugInBeeps(HMODULE plugIn) {
  return Replace(plugIn, "MessageBeep", &ReportedMessageBeep, systemMessageBeep);
}

bool SupplyCtrlPressBit(HMODULE plugIn) {
  return Replace(plugIn, "GetAsyncKeyState", &CtrlCompletedGetAsyncKeyState, systemGetAsyncKeyState);
}

void ObserveKeyMessage(const MSG& message) {
  constexpr LPARAM kRepeatBit = 1 << 30;
  bool ctrlDown = message.message == WM_KEYDOWN &&
                  (message.wParam == VK_CONTROL || message.wParam == VK_LCONTROL || message.wParam == VK_RCONTROL);
  if (ctrlDown && !(message.lParam & kRepeatBit)) ctrlPressedSinceQuery = true;
}
