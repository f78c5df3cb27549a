#include "plugin/command_line_proc.h"

#include <richedit.h>

#include <optional>
#include <string>

#include "calculator/command_line_verdict.h"
#include "calculator/unit_operators.h"
#include "plugin/ascii_text.h"
#include "plugin/evaluation_trigger.h"
#include "plugin/host_interface.h"

HWND CommandLineWindow = nullptr;
WNDPROC PreviousCommandLineProc = nullptr;
bool CommandLineEvaluates = true;

namespace {

// 49 UTF-16 characters and the terminator; EM_GETSELTEXT is given no size.
constexpr int TextUnits = CommandLineCapacity;

EvaluationTrigger Trigger;

// Sets ActiveUnitSystem from the active document, as at every evaluation;
// without an active document the unit system of the last evaluation holds.
int ActiveDocumentUnitSystem() {
  const CRhinoDoc* document = RhinoApp().ActiveDoc();
  if (document) ActiveUnitSystem = document->UnitSystem();
  return ActiveUnitSystem;
}

// UTF-16 units of the whole text, a line break counted as two so that the
// count is never short. The selection's range is no measure: a rich edit
// may count its final paragraph mark in it, which it does not copy.
LRESULT TextLength(HWND window) {
  GETTEXTLENGTHEX measure = {GTL_NUMCHARS | GTL_PRECISE | GTL_USECRLF, 1200};
  return SendMessageW(window, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0);
}

// The whole text, which is selected; or nothing when it does not fit the
// buffer (its first characters alone would give a wrong number) or holds a
// character outside ASCII.
std::optional<std::string> ReadCommandLineText(HWND window) {
  if (TextLength(window) >= TextUnits) return std::nullopt;
  wchar_t text[TextUnits] = L"";
  SendMessageW(window, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text));
  return AsciiText(text);
}

// The value is ASCII: digits, sign, point, exponent.
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

void EvaluateLine(HWND window, Evaluation evaluation) {
  CHARRANGE before{};
  SendMessageW(window, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&before));
  SendMessageW(window, EM_SETSEL, 0, -1);
  CommandLineVerdict verdict{CommandLineVerdict::Action::Reject, {}, 0, {}, false, {}, false, {}};
  if (std::optional<std::string> text = ReadCommandLineText(window))
    verdict = JudgeCommandLine(*text, ActiveDocumentUnitSystem());
  if (verdict.What == CommandLineVerdict::Action::Replace) return ReplaceSelection(window, verdict.Value);
  if (verdict.What == CommandLineVerdict::Action::Reject) RejectLine(window);
  // Before Enter the host reads the line anyway; after a Ctrl tap the user
  // goes on typing where the caret was. (A selection made from right to
  // left comes back with the caret at its right end: the control tells no
  // direction.)
  if (evaluation == Evaluation::InPlace)
    SendMessageW(window, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&before));
}

}  // namespace

LRESULT CALLBACK CommandLineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (CommandLineEvaluates) {
    Evaluation evaluation = Trigger.Observe(message, wParam, lParam);
    if (evaluation != Evaluation::None && window == CommandLineWindow && GetFocus() == CommandLineWindow)
      EvaluateLine(window, evaluation);
  }
  return CallWindowProcW(PreviousCommandLineProc, window, message, wParam, lParam);
}

LRESULT CALLBACK CommandLineMouseProc(int code, WPARAM message, LPARAM details) {
  if (code >= 0) Trigger.ObserveMouse(static_cast<UINT>(message));
  return CallNextHookEx(nullptr, code, message, details);
}

LRESULT CALLBACK CommandLineKeyboardProc(int code, WPARAM key, LPARAM details) {
  if (code >= 0) Trigger.ObserveThreadKey(key);
  return CallNextHookEx(nullptr, code, key, details);
}
