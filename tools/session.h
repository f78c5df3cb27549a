// What the terminal calculator keeps from one line to the next: the
// document's unit system, the digits it prints, the last answer `ans` and
// the user's variables. The plug-in keeps none of it; a line that names no
// variable comes to exactly what the plug-in makes of it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calculator/calculator_driver.h"

// Significant digits of the printed values: the plug-in's by default (10,
// or as many as keep the decimal places typed), or any from 1 to 17, which
// reads back as the very same double.
inline constexpr int DefaultDigits = CommandLineDigits;
inline constexpr int MinDigits = 1;
inline constexpr int MaxDigits = 17;
std::optional<int> ParseDigits(std::string_view text);

// What one line came to: what the CAD program would make of it, as the
// plug-in's verdict says (calculator/command_line_verdict.h).
struct LineResult {
  enum class Outcome {
    Value,          // the line's value, written over it
    PassedThrough,  // a number as the host reads it: the host receives the line as typed
    Refused,        // no formula, or one the host must not get a value for
  };
  Outcome What = Outcome::Refused;
  // The value as printed, the line as the host receives it, or why the
  // line was refused: the parser's message or the verdict's reason.
  std::string Text;
  // For a refused line, what to write instead where that is plain (a blank
  // after a unit suffix); else empty.
  std::string Hint;
  // Once a session, on the first line too long for the plug-in's command
  // line: that the plug-in would refuse it; else empty.
  std::string Note;
  bool Succeeded() const { return What != Outcome::Refused; }
};

// A value the session keeps. A value computed from a length suffix, or
// from another such value, is a length in the document's units of the
// time: it keeps that unit system and is refused in any other, so that
// 127 (mm) is never read as 127 m. Converting instead would be wrong for an
// area or a ratio, which the value does not tell apart.
//
// A length suffix with "?" converts back from document units: then the
// value counts the suffix's unit where the suffix applied to the whole
// formula, and is known by its formula where it applied to a part, or came
// from a variable that was converted back.
struct StoredValue {
  double Value = 0;
  std::optional<int> LengthIn;  // the unit system it was measured in
  int Places = 0;               // the finest decimal place typed in the numbers it came from
  std::string ConvertedBackBy;  // "mm?": the value counts millimetres
  std::string Formula;          // as typed, when converted back in part
};

class Session {
 public:
  // The commands' names cannot name variables either.
  Session(int unitSystem, int digits, const std::vector<std::string_view>& commands);

  // Evaluates the line, a formula or a definition "name = formula". Every
  // value becomes `ans`; a definition's becomes the variable's (names
  // follow the parser's rules, in any case; names of the vocabulary and the
  // commands are refused). A line that fails changes nothing.
  LineResult Enter(std::string_view line);

  int UnitSystem() const { return Units; }
  void SetUnitSystem(int unitSystem) { Units = unitSystem; }
  int Digits() const { return Shown; }
  void SetDigits(int digits) { Shown = digits; }
  const std::map<std::string, StoredValue>& Variables() const { return Defined; }
  static constexpr char LastAnswerName[] = "ans";
  // With the digits chosen; by default as many as keep the decimal places.
  std::string Format(const StoredValue& value) const;
  // "x = 127", and for a length what it counts and the unit system it was
  // measured in.
  std::string Describe(const std::string& name, const StoredValue& stored) const;

 private:
  // The verdict on the line (on a definition's formula, its value), with
  // `ans` and the variables defined.
  LineResult Evaluate(std::string_view formula, bool defines, StoredValue& value);
  // `ans` or a variable, by a name that the verdict found in a line.
  const StoredValue& Stored(const std::string& name) const;
  // Why a value the line uses cannot be used in the document's unit system.
  std::optional<std::string> LengthRefusal(const std::vector<std::string>& used) const;
  // Why the name cannot be a variable, if it cannot.
  std::optional<std::string> RefusalOf(const std::string& name) const;

  // The note on the first line too long for the plug-in, once.
  std::string NoteIfTooLong(std::string_view line);

  int Units;
  int Shown;
  bool LongLineNoted = false;
  StoredValue LastAnswer;
  std::map<std::string, StoredValue> Defined;  // stable addresses for the parser
  std::vector<std::string> Commands;           // sorted
};

// Where a line splits into a definition: the name before a lone '=' (not
// part of "==", "<=", ">=" or "!="), without blanks, and the formula after.
struct Definition {
  std::string_view Name;
  std::string_view Formula;
};
std::optional<Definition> SplitDefinition(std::string_view line);
