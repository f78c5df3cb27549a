// The parser with its default vocabulary and one variable, on arbitrary
// bytes as the formula, compiled once with folding and once without.
//
// The function "bump" changes the variable behind the parser's back. With it
// in a formula, the compile-time value may differ from later runs (the
// compiler reads a variable when it applies an operation, the cells when
// they load it), so such formulas are checked only for the agreement of the
// compiled form and its machine code with the cells, each run from the same
// variable value.
//
// "shift" and the prefix "~" add the number their context points to, the
// list function "weigh" and the postfix "tri" are callable objects that the
// parser keeps: callbacks with state, which every tier must call alike.
//
// The functions "again", "reassign" and "redefine" touch the parser that
// calls them, while it compiles (where they fold) or runs: they evaluate it
// once more, assign it the formula "x*3", or bind x to another variable of
// the same value, and return their argument. The evaluation in progress
// must give what the formula gives with plain identity functions in their
// place, on every tier; an assignment takes effect at the next evaluation.
//
// Inputs of odd length run with the deterministic math library where the
// build has it, so that its functions and powers meet every tier too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

double Shift(void* context, double x) { return x + *static_cast<const double*>(context); }

struct Variant {
  FuzzOracle::Probe Parser;
  double X = StartValue;
  double Offset = 0.25;

  explicit Variant(bool folding, MathUtils::MathLibrary library = MathUtils::MathLibrary::C) {
    Parser.SetMathLibrary(library);
    Parser.AddVariable("x", &X);
    Parser.AddFunction("bump", Bump, false);
    Parser.AddFunction("shift", Shift, &Offset);
    Parser.AddPrefixOperator("~", Shift, &Offset);
    Parser.AddFunction("weigh", [scale = 3.0](std::span<const double> values) {
      double total = 0;
      for (double value : values) total = total * scale + value;
      return total;
    });
    Parser.AddPostfixOperator("tri", [scale = 3.0](double value) { return value * scale; });
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

// ---- evaluation over arrays ----

// Points that tell tiers apart: signed zeros, a denormal, infinities, NaN.
constexpr double ArrayPoints[] = {StartValue, -0.75, 0.0,      -0.0,      1e-310, 1e300, 3,
                                  -2,         0.5,   HUGE_VAL, -HUGE_VAL, NAN,    7};
constexpr std::size_t ArrayPointCount = std::size(ArrayPoints);

// Over an array of points, the formula gives at each point what Evaluate
// gives there: interpreted, and as machine code one point at a time and in
// the widest lanes.
void ExpectArraysAgree(bool folding, MathUtils::MathLibrary library, const std::string& formula) {
  Variant single(folding, library);
  single.Parser.AssignFormula(formula);
  double expected[ArrayPointCount];
  for (std::size_t i = 0; i < ArrayPointCount; ++i) {
    single.X = ArrayPoints[i];
    const Outcome outcome = FuzzOracle::EvaluateOnce(single.Parser);
    if (outcome.Failed) return;
    expected[i] = outcome.Value;
  }
  for (const int lanes : {0, 1, 8}) {
    Variant over(folding, library);
    over.Parser.SetMachineCode(lanes > 0);
    over.Parser.ArraysAtOnce(lanes > 0 ? lanes : 1);
    over.Parser.AssignFormula(formula);
    const MathUtils::VariableArray arrays[] = {{&over.X, ArrayPoints}};
    double results[ArrayPointCount];
    std::size_t written = 0;
    try {
      over.Parser.EvaluateArrays(arrays, results, &written);
    } catch (const MathUtils::ParserException& error) {
      FuzzOracle::Fail("an evaluation over arrays failed where Evaluate did not",
                       FuzzOracle::Printable(formula));
    }
    if (written != ArrayPointCount || over.X != StartValue)
      FuzzOracle::Fail("an evaluation over arrays wrote the wrong count or a variable",
                       FuzzOracle::Printable(formula));
    for (std::size_t i = 0; i < ArrayPointCount; ++i)
      if (!FuzzOracle::SameValue(results[i], expected[i]))
        FuzzOracle::Fail("over arrays with " + std::to_string(lanes) + " lanes, point " + std::to_string(i) +
                             " differs from Evaluate",
                         FuzzOracle::Printable(formula));
  }
}

// ---- callbacks that touch their parser ----

constexpr const char* AssignedFormula = "x*3";
FuzzOracle::Probe* Touched = nullptr;
double OtherX = StartValue;
int Depth = 0;
// The inner evaluations of "again" whose formula was the one under test.
std::vector<Outcome> InnerOutcomes;
std::string FormulaUnderTest;

double Identity(double x) { return x; }

double Again(double x) {
  if (Depth > 0) return x;
  ++Depth;
  const bool same = Touched->GetFormula() == FormulaUnderTest;
  const Outcome inner = FuzzOracle::EvaluateOnce(*Touched);
  if (same) InnerOutcomes.push_back(inner);
  --Depth;
  return x;
}

double Reassign(double x) {
  Touched->AssignFormula(AssignedFormula);
  return x;
}

double Redefine(double x) {
  Touched->AddVariable("x", &OtherX);
  return x;
}

bool Agree(const Outcome& a, const Outcome& b) {
  return a.Failed == b.Failed && (a.Failed ? a.Error == b.Error : FuzzOracle::SameValue(a.Value, b.Value));
}

// Four evaluations of the formula with the callbacks that touch their
// parser, against a parser where they are identities.
void CheckReentry(bool folding, const std::string& formula) {
  double referenceX = StartValue;
  FuzzOracle::Probe reference;
  reference.AddVariable("x", &referenceX);
  FuzzOracle::Probe touched;
  double x = StartValue;
  OtherX = StartValue;
  touched.AddVariable("x", &x);
  for (const char* name : {"again", "reassign", "redefine"}) reference.AddFunction(name, Identity);
  touched.AddFunction("again", Again);
  touched.AddFunction("reassign", Reassign);
  touched.AddFunction("redefine", Redefine);
  reference.SetOptimizer(folding);
  touched.SetOptimizer(folding);
  reference.AssignFormula(formula);
  touched.AssignFormula(formula);
  Touched = &touched;
  FormulaUnderTest = formula;
  InnerOutcomes.clear();

  const Outcome expected = FuzzOracle::EvaluateOnce(reference);
  for (int run = 0; run < 4; ++run) {
    const bool underTest = touched.GetFormula() == formula;
    const Outcome outcome = FuzzOracle::EvaluateOnce(touched);
    if (underTest && !Agree(outcome, expected))
      FuzzOracle::Fail("a callback that touches its parser changed the evaluation in progress (run " +
                           std::to_string(run) + ")",
                       FuzzOracle::Printable(formula));
    if (!underTest && (outcome.Failed || outcome.Value != 3 * StartValue))
      FuzzOracle::Fail("the formula a callback assigned was not evaluated next",
                       FuzzOracle::Printable(formula));
  }
  for (const Outcome& inner : InnerOutcomes)
    if (!Agree(inner, expected))
      FuzzOracle::Fail("an evaluation from a callback differs from the one that called it",
                       FuzzOracle::Printable(formula));
  Touched = nullptr;
  FuzzOracle::ExpectStillUsable(touched, formula);
}

bool TouchesParser(const std::string& formula) {
  return formula.find("again") != std::string::npos || formula.find("reassign") != std::string::npos ||
         formula.find("redefine") != std::string::npos;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The formula when it is one decimal number and nothing else: digits with
// an optional point, an optional exponent, blanks (spaces and tabs) around it.
// A line feed, like a NUL, is refused where it stands.
std::optional<std::string> PlainNumber(std::string_view formula) {
  if (formula.find('\n') != std::string_view::npos) return std::nullopt;
  const std::size_t start = formula.find_first_not_of(" \t\v\f\r");
  if (start == std::string_view::npos) return std::nullopt;
  formula.remove_prefix(start);
  formula = formula.substr(0, formula.find_last_not_of(" \t") + 1);
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
  using MathUtils::MathLibrary;
  const MathLibrary library =
      size % 2 && MathUtils::ParserBase::MathLibraryAvailable(MathLibrary::Deterministic)
          ? MathLibrary::Deterministic
          : MathLibrary::C;
  Variant folded(true, library), unfolded(false, library);
  const bool sideEffects = formula.find("bump") != std::string::npos;
  if (!sideEffects && TouchesParser(formula)) {
    CheckReentry(true, formula);
    CheckReentry(false, formula);
    return 0;
  }
  const Outcome withFolding = sideEffects ? CheckWithSideEffects(folded, formula) : Check(folded, formula);
  const Outcome withoutFolding =
      sideEffects ? CheckWithSideEffects(unfolded, formula) : Check(unfolded, formula);
  FuzzOracle::ExpectSameOutcome(withFolding, withoutFolding, formula);
  if (!sideEffects) {
    ExpectExactNumber(formula, withFolding);
    if (!withFolding.Failed) ExpectArraysAgree(true, library, formula);
  }
  return 0;
}
