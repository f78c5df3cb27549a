#include "calculator/command_line_verdict.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "calculator/calculator_driver.h"
#include "calculator/calculator_parser.h"
#include "calculator/typed_digits.h"
#include "calculator/unit_operators.h"
#include "parser/parser.h"
#include "parser/reader.h"

namespace {

using Action = CommandLineVerdict::Action;

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

// The host, like the parser, reads past blanks around a line.
std::string_view Trimmed(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

// Where the first character outside ASCII ends: after its whole UTF-8
// sequence, or after its one byte when that begins no sequence.
std::optional<std::size_t> EndOfFirstNonAscii(std::string_view line) {
  const auto outside = std::find_if(line.begin(), line.end(), [](char c) { return (c & 0x80) != 0; });
  if (outside == line.end()) return std::nullopt;
  const std::size_t at = static_cast<std::size_t>(outside - line.begin());
  const unsigned char lead = static_cast<unsigned char>(*outside);
  const std::size_t following = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
  std::size_t end = at + 1;
  while (end < line.size() && end <= at + following && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
    ++end;
  return end == at + 1 + following ? end : at + 1;
}

CommandLineVerdict Rejected(std::string reason) {
  return {Action::Reject, {}, 0, std::move(reason), false, {}, false, {}};
}

// The parser's message for a token it does not know, the marker after the
// whole character: a formula is ASCII, as the plug-in reads its line.
CommandLineVerdict RejectedCharacter(std::string_view line, std::size_t end) {
  return Rejected(std::string(MathUtils::Messages::UnknownToken) + ' ' + std::string(line.substr(0, end)) +
                  " <- here");
}

// The parser stops reading at a line feed or a NUL: what follows would be
// dropped without a word ("2<LF>3" would give 2).
std::optional<CommandLineVerdict> RejectedIfCut(std::string_view line) {
  const std::size_t end = line.find_first_of(std::string_view("\n\0", 2));
  if (end == std::string_view::npos) return std::nullopt;
  return Rejected("A line break or NUL ends the formula before the line ends: " +
                  std::string(line.substr(0, end)) + " <- here");
}

// The parser quotes the line as it read it, lower-cased (whole, or cut
// before " <- here"); the message shows it as typed instead. Lower-casing
// moves no byte, so the quote is a prefix of the typed line.
std::string QuotedAsTyped(std::string message, std::string_view line) {
  std::size_t quote = 0;
  for (std::string_view known : MathUtils::Messages::All)
    if (known.size() >= quote && message.size() > known.size() && message.starts_with(known) &&
        message[known.size()] == ' ')
      quote = known.size() + 1;
  if (quote == 0) return message;
  constexpr std::string_view Marker = " <- here";
  const std::size_t end = message.ends_with(Marker) ? message.size() - Marker.size() : message.size();
  if (end < quote || end - quote > line.size()) return message;
  const std::size_t length = end - quote;
  if (message.compare(quote, length, LowerCaseAscii(line.substr(0, length))) == 0)
    message.replace(quote, length, line.substr(0, length));
  return message;
}

// One word that the parser does not know ("Circle", "_Line", "-Layer"):
// letters, digits, '_' and '-', a letter among them, no digit first. The
// CAD program reads it as a command; the terminal, which knows none but
// its own, calls it an unknown command, whether typed, piped or given as
// an argument.
bool IsCommandLikeWord(std::string_view bare) {
  if (bare.empty() || IsDigit(bare.front())) return false;
  bool hasLetter = false;
  for (char c : bare) {
    if (!IsLetter(c) && !IsDigit(c) && c != '-') return false;
    hasLetter |= IsLetter(c) && c != '_';
  }
  return hasLetter;
}

CommandLineVerdict RejectedByParser(const std::string& message, std::string_view line) {
  const std::string_view bare = Trimmed(line);
  if (message.starts_with(MathUtils::Messages::UnknownToken) && IsCommandLikeWord(bare))
    return Rejected("Unknown command: " + std::string(bare));
  return Rejected(QuotedAsTyped(message, line));
}

// Whether a line that IsHostNumber takes fits a double ("1e400" does not).
// from_chars, unlike strtod, reads the point whatever the locale.
std::optional<double> HostNumberValue(std::string_view number) {
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc{} || end != number.data() + number.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

void Prepare(CalculatorParser& parser, std::string_view line,
             std::span<const CommandLineVariable> variables) {
  AssignCommandLine(parser, line);
  for (const CommandLineVariable& variable : variables) parser.AddVariable(variable.Name, variable.Address);
}

// The value, or the parser's message.
struct Evaluation {
  bool Succeeded;
  double Value;
  std::string Message;
};

Evaluation Evaluate(std::string_view line, int unitSystem, std::span<const CommandLineVariable> variables) {
  try {
    CalculatorParser parser(unitSystem);
    Prepare(parser, line, variables);
    return {true, parser.Evaluate(), {}};
  } catch (const MathUtils::ParserException& error) {
    return {false, 0, error.what()};
  }
}

// What a line that compiles is made of, read token by token.
struct LineShape {
  // The operation applied last, the one outside every bracket with the
  // lowest priority, compares.
  bool OutermostComparison = false;
  bool ReadsUnitSystem = false;
  std::vector<std::string> VariablesUsed;
  bool ConvertsBack = false;
  std::string WholeConvertedBack;
};

// A parser that tells where its reader stands, so that each token's text
// can be read.
struct ReadingParser : CalculatorParser {
  using CalculatorParser::CalculatorParser;
  using ParserBase::Position;
};

LineShape ShapeOf(std::string_view line, int unitSystem, std::span<const CommandLineVariable> variables) {
  using namespace MathUtils;
  const std::string lower = LowerCaseAscii(line);
  ReadingParser parser(unitSystem);
  Prepare(parser, line, variables);
  LineShape shape;
  SyntaxFlags flags = FlagsAtStart;
  int depth = 0;
  bool logicalOutside = false;
  bool binaryOutside = false;
  std::string_view lastBackOutside;  // a reverse length suffix, the last token outside brackets
  for (;;) {
    const auto start = static_cast<std::size_t>(parser.Position());
    const Token token = parser.ScanToken(flags);
    if (token.Code == cdEnd) break;
    const std::string_view text =
        Trimmed(std::string_view(lower).substr(start, static_cast<std::size_t>(parser.Position()) - start));
    const bool lengthSuffix = token.Code == cdPostfixOp && IsLengthSuffix(text);
    if (lengthSuffix) shape.ReadsUnitSystem = true;
    if (lengthSuffix && text.ends_with('?')) shape.ConvertsBack = true;
    if (depth == 0) lastBackOutside = lengthSuffix && text.ends_with('?') ? text : std::string_view();
    if (token.Code == cdVariable &&
        std::find(shape.VariablesUsed.begin(), shape.VariablesUsed.end(), text) == shape.VariablesUsed.end())
      shape.VariablesUsed.emplace_back(text);
    if (token.Code == cdOpenBracket) ++depth;
    if (token.Code == cdCloseBracket) --depth;
    if (depth != 0 || !IsBinaryOperator(token.Code)) continue;
    binaryOutside = true;
    // "and" and "or" bind more loosely than any comparison.
    if (Commands[token.Code].Family == Computes::Logical) logicalOutside = true;
    if (Commands[token.Code].Family == Computes::Comparison) shape.OutermostComparison = true;
  }
  if (logicalOutside) shape.OutermostComparison = false;
  if (!binaryOutside) shape.WholeConvertedBack = lastBackOutside;
  return shape;
}

bool IsVariableOf(std::string_view name, std::span<const CommandLineVariable> variables) {
  const std::string lower = LowerCaseAscii(name);
  return std::any_of(variables.begin(), variables.end(),
                     [&lower](const CommandLineVariable& variable) { return variable.Name == lower; });
}

// A printed value is itself a number as the host reads it, so evaluating
// the line again leaves it and its undo history alone.
CommandLineVerdict Replaced(double value, std::string_view line, int unitSystem, LineShape shape) {
  return {Action::Replace,
          FormatValue(value, DigitsKeepingTypedPlaces(value, line, unitSystem)),
          value,
          {},
          shape.ReadsUnitSystem,
          std::move(shape.VariablesUsed),
          shape.ConvertsBack,
          std::move(shape.WholeConvertedBack)};
}

// A NaN's sign means nothing ("0/0" gives -nan on x86): it is shown without.
std::string NotFinite(double value) {
  return "Not a finite value: " +
         (std::isnan(value) ? std::string("nan") : FormatValue(value, CommandLineDigits));
}

}  // namespace

bool FitsCommandLine(std::string_view line) {
  int units = 0;
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;  // continuation bytes add none
  }
  return units < CommandLineCapacity;
}

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

CommandLineVerdict JudgeCommandLine(std::string_view line, int unitSystem,
                                    std::span<const CommandLineVariable> variables) {
  if (const auto end = EndOfFirstNonAscii(line)) return RejectedCharacter(line, *end);
  if (auto cut = RejectedIfCut(line)) return std::move(*cut);
  const std::string_view bare = Trimmed(line);
  if (IsHostNumber(bare)) {
    const std::optional<double> number = HostNumberValue(bare);
    if (!number) return Rejected("Out of the range of a double: " + std::string(bare));
    return {Action::LeaveAsTyped, {}, *number, {}, false, {}, false, {}};
  }
  const Evaluation evaluation = Evaluate(line, unitSystem, variables);
  if (!evaluation.Succeeded) return RejectedByParser(evaluation.Message, line);
  if (!std::isfinite(evaluation.Value)) return Rejected(NotFinite(evaluation.Value));
  const std::string shown(bare);
  if (IsSingleName(bare) && !IsVariableOf(bare, variables))
    return Rejected("A name alone reaches the CAD program as typed, as an option or a command: " + shown +
                    "; write (" + shown + ") for its value");
  LineShape shape = ShapeOf(line, unitSystem, variables);
  if (shape.OutermostComparison)
    return Rejected(
        "A comparison outside brackets reaches the CAD program as typed, as a polar coordinate: " + shown +
        "; write (" + shown + ") for its value");
  return Replaced(evaluation.Value, line, unitSystem, std::move(shape));
}

CommandLineVerdict JudgeFormulaValue(std::string_view formula, int unitSystem,
                                     std::span<const CommandLineVariable> variables) {
  if (const auto end = EndOfFirstNonAscii(formula)) return RejectedCharacter(formula, *end);
  if (auto cut = RejectedIfCut(formula)) return std::move(*cut);
  const Evaluation evaluation = Evaluate(formula, unitSystem, variables);
  if (!evaluation.Succeeded) return Rejected(QuotedAsTyped(evaluation.Message, formula));
  if (!std::isfinite(evaluation.Value)) return Rejected(NotFinite(evaluation.Value));
  return Replaced(evaluation.Value, formula, unitSystem, ShapeOf(formula, unitSystem, variables));
}
