#include "host/program/other_plugin.h"

namespace {

WNDPROC ReplacedProcedure = nullptr;

LRESULT CALLBACK OtherPlugInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(ReplacedProcedure, window, message, wParam, lParam);
}

}  // namespace

void SubclassAsAnotherPlugIn(HWND commandLine) {
  if (GetWindowLongPtrW(commandLine, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(OtherPlugInProc)) return;
  ReplacedProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(commandLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherPlugInProc)));
}

LONG_PTR ProcedureBelowOtherPlugIn(HWND commandLine) {
  LONG_PTR top = GetWindowLongPtrW(commandLine, GWLP_WNDPROC);
  if (top != reinterpret_cast<LONG_PTR>(OtherPlugInProc)) return top;
  return reinterpret_cast<LONG_PTR>(ReplacedProcedure);
}
