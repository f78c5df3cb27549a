#include "plugin/command_line_proc.h"

#include <richedit.h>

#include <optional>
#include <string>

#include "calculator/calculator_driver.h"
#include "calculator/unit_operators.h"
#include "parser/tokens.h"
#include "plugin/evaluation_trigger.h"
#include "plugin/host_interface.h"

HWND CommandLineWindow = nullptr;
WNDPROC PreviousCommandLineProc = nullptr;

namespace {

// 49 UTF-16 characters and the terminator; EM_GETSELTEXT is given no size.
constexpr int TextUnits = 50;
// Room for those characters in any ANSI code page, and the terminator.
constexpr int NarrowBytes = 100;

EvaluationTrigger Trigger;

// Without an active document the unit system of the last evaluation holds.
int ActiveDocumentUnitSystem() {
  const CRhinoDoc* document = RhinoApp().ActiveDoc();
  return document ? document->UnitSystem() : ActiveUnitSystem;
}

// UTF-16 units of the whole text, a line break counted as two so that the
// count is never short. The selection's range is no measure: a rich edit
// may count its final paragraph mark in it, which it does not copy.
LRESULT TextLength(HWND window) {
  GETTEXTLENGTHEX measure = {GTL_NUMCHARS | GTL_PRECISE | GTL_USECRLF, 1200};
  return SendMessageW(window, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0);
}

// The text in the ANSI code page, or nothing when a character has no exact
// equivalent there: its stand-in "?" or a look-alike letter could turn a
// name into a formula ("5mm?" for "5mm" and a CJK character).
std::optional<std::string> ToAnsi(const wchar_t* text) {
  char narrow[NarrowBytes] = "";
  BOOL substituted = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, narrow, NarrowBytes, nullptr, &substituted);
  if (substituted) return std::nullopt;
  return std::string(narrow);
}

// The whole text, which is selected, in the ANSI code page; or nothing when
// it does not fit the buffer: its first characters alone would give a wrong
// number. EvaluateCommandLine lower-cases it.
std::optional<std::string> ReadCommandLineText(HWND window) {
  if (TextLength(window) >= TextUnits) return std::nullopt;
  wchar_t text[TextUnits] = L"";
  SendMessageW(window, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text));
  return ToAnsi(text);
}

// The value is ASCII: digits, sign, point, exponent, "inf" or "nan".
void ReplaceSelection(HWND window, const std::string& value) {
  std::wstring wide(value.begin(), value.end());
  SendMessageW(window, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(wide.c_str()));
}

// Beeps and gives the focus back to the command line, should anything have
// taken it while the line was read.
void RejectLine(HWND window) {
  MessageBeep(MB_ICONEXCLAMATION);
  SetFocus(window);
}

void EvaluateInPlace(HWND window) {
  SendMessageW(window, EM_SETSEL, 0, -1);
  try {
    std::optional<std::string> text = ReadCommandLineText(window);
    if (!text) return RejectLine(window);
    ReplaceSelection(window, EvaluateCommandLine(*text, ActiveDocumentUnitSystem()));
  } catch (const MathUtils::ParserException&) {
    RejectLine(window);
  }
}

}  // namespace

LRESULT CALLBACK CommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Trigger.Observe(message, wParam, lParam) && window == CommandLineWindow &&
      GetFocus() == CommandLineWindow) {
    EvaluateInPlace(window);
  }
  return CallWindowProcW(PreviousCommandLineProc, window, message, wParam, lParam);
}
