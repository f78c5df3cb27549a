#include "plugin/command_line_verdict.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "parser/reader.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// Skips the digits at the front of text; how many there were.
std::size_t SkipDigits(std::string_view& text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count])) ++count;
  text.remove_prefix(count);
  return count;
}

bool SkipOne(std::string_view& text, std::string_view choices) {
  if (text.empty() || choices.find(text.front()) == std::string_view::npos) return false;
  text.remove_prefix(1);
  return true;
}

bool IsSingleName(std::string_view line) {
  if (line.empty() || !IsLetter(line.front())) return false;
  for (char c : line)
    if (!IsLetter(c) && !IsDigit(c)) return false;
  return true;
}

// Whether the operation applied last, the one outside every bracket with
// the lowest priority, compares. Reads a line that is known to compile.
bool OutermostIsComparison(std::string_view line, int unitSystem) {
  using namespace MathUtils;
  Parser parser;
  PrepareCommandLine(parser, line, unitSystem);
  SyntaxFlags flags = FlagsAtStart;
  int depth = 0;
  bool comparison = false;
  for (Token token = parser.ScanToken(flags); token.Code != cdEnd; token = parser.ScanToken(flags)) {
    if (token.Code == cdOpenBracket) ++depth;
    if (token.Code == cdCloseBracket) --depth;
    if (depth != 0 || !IsBinaryOperator(token.Code)) continue;
    // "and" and "or" bind more loosely than any comparison.
    if (Commands[token.Code].Family == Computes::Logical) return false;
    if (Commands[token.Code].Family == Computes::Comparison) comparison = true;
  }
  return comparison;
}

// The host, like the parser, reads past blanks around a line.
std::string_view Trimmed(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

CommandLineVerdict Rejected() { return {CommandLineVerdict::Action::Reject, {}}; }

// Whether a line that IsHostNumber takes fits a double ("1e400" does not).
// from_chars, unlike strtod, reads the point whatever the locale.
bool FitsADouble(std::string_view number) {
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  return error == std::errc{} && end == number.data() + number.size() && std::isfinite(value);
}

}  // namespace

bool IsHostNumber(std::string_view line) {
  SkipOne(line, "+-");
  std::size_t digits = SkipDigits(line);
  if (SkipOne(line, ".")) digits += SkipDigits(line);
  if (digits == 0) return false;
  if (SkipOne(line, "eE")) {
    SkipOne(line, "+-");
    if (SkipDigits(line) == 0) return false;
  }
  return line.empty();
}

CommandLineVerdict JudgeCommandLine(std::string_view line, int unitSystem) {
  const std::string_view bare = Trimmed(line);
  if (IsHostNumber(bare))
    return FitsADouble(bare) ? CommandLineVerdict{CommandLineVerdict::Action::LeaveAsTyped, {}} : Rejected();
  double value = 0;
  try {
    MathUtils::Parser parser;
    PrepareCommandLine(parser, line, unitSystem);
    value = parser.Evaluate();
  } catch (const MathUtils::ParserException&) {
    return Rejected();
  }
  if (!std::isfinite(value) || IsSingleName(bare) || OutermostIsComparison(line, unitSystem))
    return Rejected();
  // A printed value is itself a number as the host reads it, so evaluating
  // the line again leaves it and its undo history alone.
  return {CommandLineVerdict::Action::Replace, FormatValue(value, CommandLineDigits)};
}
