#include "tools/session.h"

#include <algorithm>
#include <charconv>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "tools/ascii.h"
#include "tools/vocabulary.h"

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

bool Holds(const std::vector<std::string>& names, std::string_view name) {
  return std::binary_search(names.begin(), names.end(), name);
}

// A '=' that is not part of a comparison.
bool IsLoneEquals(std::string_view line, std::size_t at) {
  const bool joinedBefore = at > 0 && std::string_view("<>!=").find(line[at - 1]) != std::string_view::npos;
  const bool joinedAfter = at + 1 < line.size() && line[at + 1] == '=';
  return !joinedBefore && !joinedAfter;
}

// The parser's own name rules, with its own messages.
std::optional<std::string> NameRuleBroken(const std::string& name) {
  MathUtils::Parser parser;
  double unused = 0;
  try {
    parser.AddVariable(name, &unused);
  } catch (const MathUtils::ParserException& error) {
    return error.what();
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> ParseDigits(std::string_view text) {
  int digits = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), digits);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (digits < MinDigits || digits > MaxDigits) return std::nullopt;
  return digits;
}

std::optional<Definition> SplitDefinition(std::string_view line) {
  for (std::size_t at = line.find('='); at != std::string_view::npos; at = line.find('=', at + 1)) {
    if (!IsLoneEquals(line, at)) {
      if (at + 1 < line.size() && line[at + 1] == '=') ++at;  // skip the whole "=="
      continue;
    }
    const std::string_view name = Trim(line.substr(0, at));
    if (name.find_first_of(Blanks) != std::string_view::npos) return std::nullopt;
    const std::string_view formula = line.substr(at + 1);
    return Definition{name, formula.substr(std::min(formula.find_first_not_of(Blanks), formula.size()))};
  }
  return std::nullopt;
}

Session::Session(int unitSystem, int digits, const std::vector<std::string_view>& commands)
    : Units(unitSystem), Shown(digits), Commands(commands.begin(), commands.end()) {
  std::sort(Commands.begin(), Commands.end());
}

std::string Session::Format(double value) const { return FormatValue(value, Shown); }

LineResult Session::Enter(std::string_view line) {
  const auto definition = SplitDefinition(line);
  if (!definition) {
    double value = 0;
    return Evaluate(line, value);
  }
  const std::string name = LowerCaseAscii(definition->Name);
  if (auto refusal = RefusalOf(name)) return {false, std::move(*refusal)};
  double value = 0;
  LineResult result = Evaluate(definition->Formula, value);
  if (result.Evaluated) Defined[name] = value;
  return result;
}

LineResult Session::Evaluate(std::string_view formula, double& value) {
  MathUtils::Parser parser;
  try {
    PrepareCommandLine(parser, formula, Units);
    parser.AddVariable(LastAnswerName, &LastAnswer);
    for (auto& [name, variable] : Defined) parser.AddVariable(name, &variable);
    value = parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    return {false, error.what()};
  }
  LastAnswer = value;
  return {true, Format(value)};
}

std::optional<std::string> Session::RefusalOf(const std::string& name) const {
  if (auto broken = NameRuleBroken(name)) return "Cannot define " + name + ": " + *broken;
  const Vocabulary& vocabulary = CalculatorVocabulary();
  const auto refuse = [&name](std::string_view what) {
    return "Cannot define " + name + ": it is " + std::string(what);
  };
  if (name == LastAnswerName) return refuse("the last answer");
  if (Holds(vocabulary.Functions, name)) return refuse("a function");
  if (Holds(vocabulary.Constants, name)) return refuse("a constant");
  if (Holds(vocabulary.PostfixOperators, name) || Holds(vocabulary.PrefixOperators, name))
    return refuse("a unit suffix or operator");
  for (const auto& group : vocabulary.BinaryOperators)
    if (std::find(group.begin(), group.end(), name) != group.end()) return refuse("an operator");
  if (std::binary_search(Commands.begin(), Commands.end(), name)) return refuse("a command");
  return std::nullopt;
}
