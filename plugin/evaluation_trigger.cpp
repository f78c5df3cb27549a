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

// Presses, releases and double clicks of any button, in the client area or
// on the frame, and both wheels; moves are no use of the mouse here.
bool IsMouseButtonOrWheel(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
    case WM_XBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONUP:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN:
    case WM_NCMBUTTONUP:
    case WM_NCMBUTTONDBLCLK:
    case WM_NCXBUTTONDOWN:
    case WM_NCXBUTTONUP:
    case WM_NCXBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: return true;
    default: return false;
  }
}

bool EndsCtrlTap(UINT message) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SETFOCUS:
    case WM_KILLFOCUS: return true;
    default: return IsMouseButtonOrWheel(message);
  }
}

}  // namespace

Evaluation EvaluationTrigger::Observe(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_CONTROL) {
    if (!IsRepeat(lParam)) CtrlTapUnderway = !ModifierOtherThanCtrlHeld();
    return Evaluation::None;
  }
  if (message == WM_KEYUP && wParam == VK_CONTROL)
    return std::exchange(CtrlTapUnderway, false) ? Evaluation::InPlace : Evaluation::None;
  if (EndsCtrlTap(message)) CtrlTapUnderway = false;
  return message == WM_KEYDOWN && wParam == VK_RETURN ? Evaluation::OnEnter : Evaluation::None;
}

void EvaluationTrigger::ObserveMouse(UINT message) {
  if (IsMouseButtonOrWheel(message)) CtrlTapUnderway = false;
}

void EvaluationTrigger::ObserveThreadKey(WPARAM virtualKey) {
  if (virtualKey != VK_CONTROL && virtualKey != VK_LCONTROL && virtualKey != VK_RCONTROL)
    CtrlTapUnderway = false;
}
