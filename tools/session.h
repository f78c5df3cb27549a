// What the terminal calculator keeps from one line to the next: the
// document's unit system, the digits it prints, the last answer `ans` and
// the user's variables. The plug-in keeps none of it; a line that names no
// variable evaluates exactly as the plug-in would evaluate it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calculator/calculator_driver.h"

// Significant digits of the printed values: the plug-in's 10 by default,
// up to 17, which reads back as the very same double.
inline constexpr int DefaultDigits = CommandLineDigits;
inline constexpr int MinDigits = 1;
inline constexpr int MaxDigits = 17;
std::optional<int> ParseDigits(std::string_view text);

// What one line came to.
struct LineResult {
  bool Evaluated = false;
  // The value as printed, or why the line has none: the parser's message,
  // or the reason a variable was refused.
  std::string Text;
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
  const std::map<std::string, double>& Variables() const { return Defined; }
  static constexpr char LastAnswerName[] = "ans";
  std::string Format(double value) const;

 private:
  // The value of the formula with `ans` and the variables defined, or the
  // parser's message.
  LineResult Evaluate(std::string_view formula, double& value);
  // Why the name cannot be a variable, if it cannot.
  std::optional<std::string> RefusalOf(const std::string& name) const;

  int Units;
  int Shown;
  double LastAnswer = 0;
  std::map<std::string, double> Defined;  // stable addresses for the parser
  std::vector<std::string> Commands;      // sorted
};

// Where a line splits into a definition: the name before a lone '=' (not
// part of "==", "<=", ">=" or "!="), without blanks, and the formula after.
struct Definition {
  std::string_view Name;
  std::string_view Formula;
};
std::optional<Definition> SplitDefinition(std::string_view line);
