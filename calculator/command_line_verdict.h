// What becomes of a command line when Enter is pressed on it: the plug-in
// writes a value over it, leaves it to the host as typed, or beeps. The
// terminal calculator follows the same verdict for every line. The host
// reads some lines with a syntax of its own that a formula would misread;
// those reach it as typed.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct CommandLineVerdict {
  enum class Action {
    Replace,       // write Value over the line
    LeaveAsTyped,  // the host reads the line as it is, no beep
    Reject,        // beep, and the host reads the line as it is
  };
  Action What;
  std::string Value;   // Replace: the value as printed
  double Number = 0;   // Replace and LeaveAsTyped: the value the host receives
  std::string Reason;  // Reject: why, the parser's message where it gave one
  // The value depends on the document's unit system: a length suffix
  // ("5mm", "2in?") converted in it.
  bool ReadsUnitSystem = false;
  std::vector<std::string> VariablesUsed;  // the caller's, each once
  // A reverse length suffix ("mm?") converts document units back to its
  // unit: the value counts that unit where the suffix applies to the whole
  // line ("(5in)mm?", "-2in?": WholeConvertedBack "mm?", "in?"), and no one
  // unit where it applies to a part ("1 + 5in?": ConvertsBack alone).
  bool ConvertsBack = false;
  std::string WholeConvertedBack;
};

// A variable of the caller's: the plug-in has none, the terminal keeps the
// last answer and the user's.
struct CommandLineVariable {
  std::string Name;
  double* Address;
};

// The verdict on a line in a document of the given unit system (blanks,
// spaces or tabs, around a number or a name do not count):
//
//   line                                          verdict
//   --------------------------------------------  -------------------------
//   a number as the host reads it: sign, digits,  LeaveAsTyped: every digit
//   point, exponent ("2600000.1234", "-1e3")      reaches the host
//   no formula ("Line", "sin(30", "")             Reject
//   a character outside ASCII ("2×3", "5µm")      Reject, pointing at it
//   a line feed or NUL, where the parser stops    Reject
//   reading ("2<LF>3")
//   a single name ("E", "pi"): an option letter   Reject (a caller's
//                                                 variable alone: Replace)
//   outermost operation a comparison ("10<45",    Reject: a polar coordinate
//   "1+2>=3"); bracketed ones still evaluate
//   a value that is not finite ("1/0", "1e400")   Reject
//   any other formula                             Replace with its value, in
//                                                 ten significant digits or
//                                                 as many as keep the
//                                                 decimal places typed
CommandLineVerdict JudgeCommandLine(std::string_view line, int unitSystem,
                                    std::span<const CommandLineVariable> variables = {});

// The value of a formula that stands for a number of the caller's own, as
// the right side of the terminal's "name = formula": any formula with a
// finite value is a value there, a single name or a comparison too. So
// Replace or Reject.
CommandLineVerdict JudgeFormulaValue(std::string_view formula, int unitSystem,
                                     std::span<const CommandLineVariable> variables = {});

// The plug-in reads at most this many UTF-16 units of the command line,
// its terminator included, and refuses a longer line, whose first
// characters alone would give a wrong number: it beeps, and the host reads
// the line as typed. The terminal evaluates any line, and says so.
inline constexpr int CommandLineCapacity = 50;

// Whether the plug-in reads the whole line: fewer UTF-16 units than
// CommandLineCapacity, a character beyond U+FFFF taking two.
bool FitsCommandLine(std::string_view line);

// Optional sign, digits with an optional decimal point (at least one digit),
// optional exponent: nothing else, no blanks.
bool IsHostNumber(std::string_view line);
