#include "plugin/command_line_proc.h"

#include <richedit.h>

#include <optional>
#include <string>

#include "calculator/calculator_driver.h"
#include "calculator/unit_operators.h"
#include "parser/tokens.h"
#include "plugin/host_interface.h"

HWND CommandLineWindow = nullptr;
WNDPROC PreviousCommandLineProc = nullptr;

namespace {

// 49 UTF-16 characters and the terminator; EM_GETSELTEXT is given no size.
constexpr int kTextUnits = 50;
// Room for those characters in any ANSI code page, and the terminator.
constexpr int kNarrowBytes = 100;

// Of the lowest four bits only bit 0 is defined: pressed since the last query.
bool PressedSinceLastQuery(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x000F) != 0; }

// Enter is queried only when Ctrl was not pressed, so an Enter press with a
// Ctrl press is left for the next message.
bool EvaluationRequested() { return PressedSinceLastQuery(VK_CONTROL) || PressedSinceLastQuery(VK_RETURN); }

// Without an active document the unit system of the last evaluation holds.
int ActiveDocumentUnitSystem() {
  const CRhinoDoc* document = RhinoApp().ActiveDoc();
  return document ? document->UnitSystem() : ActiveUnitSystem;
}

// UTF-16 units of the whole text, a line break counted as two so that the
// count is never short. The selection's range is no measure: a rich edit
// may count its final paragraph mark in it, which it does not copy.
LRESULT TextUnits(HWND window) {
  GETTEXTLENGTHEX measure = {GTL_NUMCHARS | GTL_PRECISE | GTL_USECRLF, 1200};
  return SendMessageA(window, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0);
}

// The whole text, which is selected, in the ANSI code page; or nothing when
// it does not fit the buffer: its first characters alone would give a wrong
// number. EvaluateCommandLine lower-cases it.
std::optional<std::string> ReadCommandLineText(HWND window) {
  if (TextUnits(window) >= kTextUnits) return std::nullopt;
  wchar_t text[kTextUnits] = L"";
  SendMessageA(window, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text));
  char narrow[kNarrowBytes] = "";
  wsprintfA(narrow, "%ls", text);
  return std::string(narrow);
}

void RejectLine(HWND window) {
  MessageBeep(MB_ICONEXCLAMATION);
  SetFocus(window);
}

void EvaluateInPlace(HWND window) {
  SendMessageA(window, EM_SETSEL, 0, -1);
  try {
    std::optional<std::string> text = ReadCommandLineText(window);
    if (!text) return RejectLine(window);
    std::string value = EvaluateCommandLine(*text, ActiveDocumentUnitSystem());
    SendMessageA(window, EM_REPLACESEL, 1, reinterpret_cast<LPARAM>(value.c_str()));
  } catch (const MathUtils::ParserException&) {
    RejectLine(window);
  }
}

}  // namespace

LRESULT CALLBACK CommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (EvaluationRequested() && window == CommandLineWindow && GetFocus() == CommandLineWindow) {
    EvaluateInPlace(window);
  }
  return CallWindowProcA(PreviousCommandLineProc, window, message, wParam, lParam);
}
