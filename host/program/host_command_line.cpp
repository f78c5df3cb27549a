#include "host/program/host_command_line.h"

#include "host/program/host_output.h"

namespace {

WNDPROC richEditProc = nullptr;

LRESULT CALLBACK HostCommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_RETURN) {
    PrintLine("received: " + WindowTextUtf8(window));
    SetWindowTextW(window, L"");
    return 0;
  }
  if (message == WM_CHAR && wParam == '\r') return 0;
  return CallWindowProcW(richEditProc, window, message, wParam, lParam);
}

}  // namespace

void AttachHostCommandLine(HWND commandLine) {
  richEditProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(commandLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HostCommandLineProc)));
}

WNDPROC HostCommandLineProcedure() { return HostCommandLineProc; }

std::string WindowTextUtf8(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(length + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), length + 1));
  return ToUtf8(text);
}
