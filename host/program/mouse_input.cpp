#include "host/program/mouse_input.h"

#include <vector>

#include "host/program/key_input.h"

namespace {

// Absolute mouse positions run from 0 to 65535 across the primary screen.
constexpr LONG AbsoluteRange = 65535;

INPUT MouseInput(DWORD flags, POINT at = {}, DWORD data = 0) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = at.x;
  input.mi.dy = at.y;
  input.mi.mouseData = data;
  input.mi.dwFlags = flags;
  return input;
}

// The middle of the window, on the absolute scale.
POINT AbsoluteMiddle(HWND window) {
  RECT place{};
  GetWindowRect(window, &place);
  const LONG width = GetSystemMetrics(SM_CXSCREEN) - 1, height = GetSystemMetrics(SM_CYSCREEN) - 1;
  return {(place.left + place.right) / 2 * AbsoluteRange / width,
          (place.top + place.bottom) / 2 * AbsoluteRange / height};
}

void SendAt(HWND window, std::vector<INPUT> actions) {
  actions.insert(actions.begin(),
                 MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, AbsoluteMiddle(window)));
  SendInput(static_cast<UINT>(actions.size()), actions.data(), sizeof(INPUT));
  ProcessPendingMessages();
}

}  // namespace

void ClickIn(HWND window) {
  SendAt(window, {MouseInput(MOUSEEVENTF_LEFTDOWN), MouseInput(MOUSEEVENTF_LEFTUP)});
}

void WheelIn(HWND window) { SendAt(window, {MouseInput(MOUSEEVENTF_WHEEL, {}, WHEEL_DELTA)}); }
