#include "plugin/evaluation_trigger.h"

#include <utility>

namespace {

// Set in a key-down message when the key was already down.
constexpr LPARAM RepeatBit = 1 << 30;

bool IsRepeat(LPARAM lParam) { return (lParam & RepeatBit) != 0; }

bool KeyHeld(int virtualKey) { return GetKeyState(virtualKey) < 0; }

bool ModifierOtherThanCtrlHeld() {
  return KeyHeld(VK_SHIFT) || KeyHeld(VK_MENU) || KeyHeld(VK_LWIN) || KeyHeld(VK_RWIN);
}

bool EndsCtrlTap(UINT message) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
    case WM_SETFOCUS:
    case WM_KILLFOCUS: return true;
    default: return false;
  }
}

}  // namespace

bool EvaluationTrigger::Observe(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_CONTROL) {
    if (!IsRepeat(lParam)) CtrlTapUnderway = !ModifierOtherThanCtrlHeld();
    return false;
  }
  if (message == WM_KEYUP && wParam == VK_CONTROL) return std::exchange(CtrlTapUnderway, false);
  if (EndsCtrlTap(message)) CtrlTapUnderway = false;
  return message == WM_KEYDOWN && wParam == VK_RETURN;
}
