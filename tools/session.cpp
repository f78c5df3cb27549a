#include "tools/session.h"

#include <algorithm>
#include <charconv>

#include "calculator/calculator_driver.h"
#include "calculator/command_line_verdict.h"
#include "calculator/typed_digits.h"
#include "calculator/unit_systems.h"
#include "parser/parser.h"
#include "tools/ascii.h"
#include "tools/suffix_hint.h"
#include "tools/vocabulary.h"

namespace {

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

// What a length counts: document units, the unit a reverse suffix
// converted the whole formula to, or, converted back in part, no one unit.
std::string MeasuredAs(const StoredValue& stored) {
  const std::string document = DescribeUnitSystem(*stored.LengthIn);
  if (!stored.Formula.empty()) return "the value of " + stored.Formula + " in " + document;
  if (stored.ConvertedBackBy.empty()) return "a length in " + document;
  const std::string_view unit(stored.ConvertedBackBy.data(), stored.ConvertedBackBy.size() - 1);
  std::string counted(unit);
  for (const UnitSystemName& system : KnownUnitSystems())
    if (unit == system.Abbreviation) counted = system.Description;
  return "a length in " + counted + ", converted with " + stored.ConvertedBackBy + " from " + document;
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
    const std::string_view name = TrimBlanks(line.substr(0, at));
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

std::string Session::Format(const StoredValue& value) const {
  if (Shown != DefaultDigits) return FormatValue(value.Value, Shown);
  return FormatValue(value.Value, DigitsKeepingPlaces(value.Value, value.Places));
}

std::string Session::Describe(const std::string& name, const StoredValue& stored) const {
  std::string text = name + " = " + Format(stored);
  if (stored.LengthIn) text += ", " + MeasuredAs(stored);
  return text;
}

LineResult Session::Enter(std::string_view line) {
  const auto definition = SplitDefinition(line);
  StoredValue value;
  if (!definition) {
    LineResult result = Evaluate(line, false, value);
    if (result.Succeeded()) LastAnswer = value;
    result.Note = NoteIfTooLong(line);
    return result;
  }
  const std::string name = LowerCaseAscii(definition->Name);
  if (auto refusal = RefusalOf(name)) return {LineResult::Outcome::Refused, std::move(*refusal), {}, {}};
  LineResult result = Evaluate(definition->Formula, true, value);
  if (result.Succeeded()) Defined[name] = LastAnswer = value;
  return result;
}

LineResult Session::Evaluate(std::string_view formula, bool defines, StoredValue& value) {
  std::vector<CommandLineVariable> variables{{LastAnswerName, &LastAnswer.Value}};
  for (auto& [name, stored] : Defined) variables.push_back({name, &stored.Value});
  const CommandLineVerdict verdict =
      defines ? JudgeFormulaValue(formula, Units, variables) : JudgeCommandLine(formula, Units, variables);
  if (verdict.What == CommandLineVerdict::Action::Reject)
    return {LineResult::Outcome::Refused, verdict.Reason, SuffixHint(formula, verdict.Reason), {}};
  if (auto refusal = LengthRefusal(verdict.VariablesUsed))
    return {LineResult::Outcome::Refused, *refusal, {}, {}};
  std::vector<NamedPlaces> places;
  for (const std::string& name : verdict.VariablesUsed) places.push_back({name, Stored(name).Places});
  value = {verdict.Number,
           std::nullopt,
           TypedDecimalPlaces(formula, Units, places),
           verdict.WholeConvertedBack,
           {}};
  if (verdict.ReadsUnitSystem) value.LengthIn = Units;
  bool usesConvertedBack = false;
  for (const std::string& name : verdict.VariablesUsed) {
    const StoredValue& used = Stored(name);
    if (used.LengthIn) value.LengthIn = Units;
    usesConvertedBack |= !used.ConvertedBackBy.empty() || !used.Formula.empty();
  }
  if (usesConvertedBack || (verdict.ConvertsBack && verdict.WholeConvertedBack.empty())) {
    value.ConvertedBackBy.clear();
    value.Formula = TrimBlanks(formula);
  }
  if (verdict.What == CommandLineVerdict::Action::LeaveAsTyped)
    return {LineResult::Outcome::PassedThrough, std::string(formula), {}, {}};
  return {LineResult::Outcome::Value, Format(value), {}, {}};
}

std::string Session::NoteIfTooLong(std::string_view line) {
  if (LongLineNoted || FitsCommandLine(line)) return {};
  LongLineNoted = true;
  return "Note: the plug-in refuses lines of " + std::to_string(CommandLineCapacity) +
         " characters or more (said once)";
}

const StoredValue& Session::Stored(const std::string& name) const {
  return name == LastAnswerName ? LastAnswer : Defined.at(name);
}

std::optional<std::string> Session::LengthRefusal(const std::vector<std::string>& used) const {
  for (const std::string& name : used) {
    const StoredValue& stored = Stored(name);
    if (!stored.LengthIn || *stored.LengthIn == Units) continue;
    return "Cannot use " + name + ": it holds " + MeasuredAs(stored) + " and the document is in " +
           DescribeUnitSystem(Units) + "; type units " + UnitSystemArgument(*stored.LengthIn) +
           " to use it, or compute it again";
  }
  return std::nullopt;
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
