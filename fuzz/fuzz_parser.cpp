// The parser with its default vocabulary and one variable, on arbitrary
// bytes as the formula, compiled once with folding and once without.
//
// The function "bump" changes the variable behind the parser's back. With it
// in a formula, the compile-time value may differ from later runs (the
// compiler reads a variable when it applies an operation, the cells when
// they load it), so such formulas are checked only for the agreement of the
// compiled form and its machine code with the cells, each run from the same
// variable value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_oracle.h"
#include "parser/parser.h"

namespace {

using FuzzOracle::Outcome;

constexpr double StartValue = 2.5;
double* BumpedVariable = nullptr;

double Bump(double x) {
  *BumpedVariable += 1;
  return x;
}

struct Variant {
  FuzzOracle::Probe Parser;
  double X = StartValue;

  explicit Variant(bool folding) {
    Parser.AddVariable("x", &X);
    Parser.AddFunction("bump", Bump, false);
    Parser.SetOptimizer(folding);
  }
};

// The bytecode must read the variable anew on every run: after a change,
// running the old bytecode and compiling afresh give the same value.
void ExpectVariableReadEachRun(Variant& variant, const std::string& formula) {
  variant.X = -0.75;
  const Outcome run = FuzzOracle::EvaluateOnce(variant.Parser);
  variant.Parser.AssignFormula(formula);
  const Outcome compiled = FuzzOracle::EvaluateOnce(variant.Parser);
  if (run.Failed || compiled.Failed || !FuzzOracle::SameValue(run.Value, compiled.Value))
    FuzzOracle::Fail("the bytecode does not follow a changed variable", FuzzOracle::Printable(formula));
  variant.X = StartValue;
}

Outcome Check(Variant& variant, const std::string& formula) {
  BumpedVariable = &variant.X;
  variant.Parser.AssignFormula(formula);
  const Outcome outcome = FuzzOracle::EvaluateThrice(variant.Parser, formula);
  if (!outcome.Failed) ExpectVariableReadEachRun(variant, formula);
  FuzzOracle::ExpectStillUsable(variant.Parser, formula);
  return outcome;
}

// With "bump": the value of a later evaluation, from the start value.
Outcome CheckWithSideEffects(Variant& variant, const std::string& formula) {
  BumpedVariable = &variant.X;
  variant.Parser.AssignFormula(formula);
  if (const Outcome first = FuzzOracle::EvaluateOnce(variant.Parser); first.Failed) {
    FuzzOracle::ExpectStillUsable(variant.Parser, formula);
    return first;
  }
  variant.X = StartValue;
  const Outcome compiled = FuzzOracle::EvaluateOnce(variant.Parser);
  variant.X = StartValue;
  const Outcome machine = FuzzOracle::EvaluateOnce(variant.Parser);
  variant.X = StartValue;
  const double cells = variant.Parser.RunCells();
  if (!FuzzOracle::SameValue(compiled.Value, cells))
    FuzzOracle::Fail("the compiled form and the cells disagree on a formula with side effects",
                     FuzzOracle::Printable(formula));
  if (machine.Failed || !FuzzOracle::SameValue(machine.Value, cells))
    FuzzOracle::Fail("the machine code and the cells disagree on a formula with side effects",
                     FuzzOracle::Printable(formula));
  if (variant.Parser.MachineCodeExpected() && variant.Parser.MachineCodeSize() == 0)
    FuzzOracle::Fail("the third evaluation ran no machine code", FuzzOracle::Printable(formula));
  variant.X = StartValue;
  return compiled;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The formula when it is one decimal number and nothing else: digits with
// an optional point, an optional exponent, blanks around it.
std::optional<std::string> PlainNumber(std::string_view formula) {
  formula = formula.substr(0, formula.find_first_of(std::string_view("\0\n", 2)));
  const std::size_t start = formula.find_first_not_of(" \t\v\f\r");
  if (start == std::string_view::npos) return std::nullopt;
  formula.remove_prefix(start);
  formula = formula.substr(0, formula.find_last_not_of(' ') + 1);
  std::size_t i = 0, digits = 0;
  while (i < formula.size() && IsDigit(formula[i])) ++i, ++digits;
  if (i < formula.size() && formula[i] == '.')
    for (++i; i < formula.size() && IsDigit(formula[i]); ++i) ++digits;
  if (digits == 0) return std::nullopt;
  if (i < formula.size() && (formula[i] == 'e' || formula[i] == 'E')) {
    ++i;
    if (i < formula.size() && (formula[i] == '+' || formula[i] == '-')) ++i;
    if (i == formula.size() || !IsDigit(formula[i])) return std::nullopt;
    while (i < formula.size() && IsDigit(formula[i])) ++i;
  }
  if (i != formula.size()) return std::nullopt;
  return std::string(formula);
}

// A number reads as the C library's correctly rounded conversion: infinity
// above the range of a double, 0 or a subnormal below it.
void ExpectExactNumber(const std::string& formula, const Outcome& outcome) {
  const std::optional<std::string> number = PlainNumber(formula);
  if (!number) return;
  const double expected = std::strtod(number->c_str(), nullptr);
  if (outcome.Failed || !FuzzOracle::SameValue(outcome.Value, expected))
    FuzzOracle::Fail("a number does not read as its nearest double",
                     FuzzOracle::Printable(formula) + "\n*** expected " + std::to_string(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string formula(reinterpret_cast<const char*>(data), size);
  Variant folded(true), unfolded(false);
  const bool sideEffects = formula.find("bump") != std::string::npos;
  const Outcome withFolding = sideEffects ? CheckWithSideEffects(folded, formula) : Check(folded, formula);
  const Outcome withoutFolding =
      sideEffects ? CheckWithSideEffects(unfolded, formula) : Check(unfolded, formula);
  FuzzOracle::ExpectSameOutcome(withFolding, withoutFolding, formula);
  if (!sideEffects) ExpectExactNumber(formula, withFolding);
  return 0;
}
