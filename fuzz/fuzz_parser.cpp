// The parser with its default vocabulary and one variable, on arbitrary
// bytes as the formula, compiled once with folding and once without.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_oracle.h"
#include "parser/parser.h"

namespace {

using FuzzOracle::Outcome;

struct Variant {
  MathUtils::Parser Parser;
  double X = 2.5;

  explicit Variant(bool folding) {
    Parser.AddVariable("x", &X);
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
  variant.X = 2.5;
}

Outcome Check(Variant& variant, const std::string& formula) {
  variant.Parser.AssignFormula(formula);
  const Outcome outcome = FuzzOracle::EvaluateThrice(variant.Parser, formula);
  if (!outcome.Failed) ExpectVariableReadEachRun(variant, formula);
  FuzzOracle::ExpectStillUsable(variant.Parser, formula);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string formula(reinterpret_cast<const char*>(data), size);
  Variant folded(true), unfolded(false);
  const Outcome withFolding = Check(folded, formula);
  const Outcome withoutFolding = Check(unfolded, formula);
  FuzzOracle::ExpectSameOutcome(withFolding, withoutFolding, formula);
  return 0;
}
