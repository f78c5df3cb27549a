#include "host/program/host_command_line.h"

#include <richedit.h>

#include "host/program/host_output.h"

namespace {

struct CommandLineSetup {
  WNDPROC RichEditProc = nullptr;
  HWND History = nullptr;
  HWND Notes = nullptr;
  bool FocusAwayOnRead = false;
} Setup;

LRESULT CALLBACK HostCommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_RETURN) {
    std::string text = WindowTextUtf8(window);
    PrintLine("received: " + text);
    if (Setup.History) SetWindowTextW(Setup.History, FromUtf8(text).c_str());
    SetWindowTextW(window, L"");
    return 0;
  }
  if (message == WM_CHAR && wParam == '\r') return 0;
  LRESULT result = CallWindowProcW(Setup.RichEditProc, window, message, wParam, lParam);
  if (message == EM_GETSELTEXT && Setup.FocusAwayOnRead) SetFocus(Setup.Notes);
  return result;
}

}  // namespace

void AttachHostCommandLine(const HostFrame& frame, bool focusAwayOnRead) {
  Setup.History = frame.History;
  Setup.Notes = frame.Notes;
  Setup.FocusAwayOnRead = focusAwayOnRead;
  Setup.RichEditProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(frame.CommandLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HostCommandLineProc)));
}

std::string WindowTextUtf8(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(length + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), length + 1));
  return ToUtf8(text);
}
