// What the plug-in makes of the command line's text. The host reads some
// lines with a syntax of its own that a formula would misread; those reach
// it as typed.
#pragma once

#include <string>
#include <string_view>

struct CommandLineVerdict {
  enum class Action {
    Replace,       // write Value over the line
    LeaveAsTyped,  // the host reads the line as it is, no beep
    Reject,        // beep, and the host reads the line as it is
  };
  Action What;
  std::string Value;  // for Replace only
};

// The verdict on an ASCII line in a document of the given unit system
// (blanks around a number or a name do not count):
//
//   line                                          verdict
//   --------------------------------------------  -------------------------
//   a number as the host reads it: sign, digits,  LeaveAsTyped: every digit
//   point, exponent ("2600000.1234", "-1e3")      reaches the host
//   no formula ("Line", "sin(30", "")             Reject
//   a single name ("E", "pi"): an option letter   Reject
//   outermost operation a comparison ("10<45",    Reject: a polar coordinate
//   "1+2>=3"); bracketed ones still evaluate
//   a value that is not finite ("1/0", "1e400")   Reject
//   any other formula                             Replace with its value
CommandLineVerdict JudgeCommandLine(std::string_view line, int unitSystem);

// Optional sign, digits with an optional decimal point (at least one digit),
// optional exponent: nothing else, no blanks.
bool IsHostNumber(std::string_view line);
