#include "bench/facts.h"

#include <cstdio>

#include "bench/allocation_counter.h"
#include "bench/formulas.h"
#include "calculator/calculator_driver.h"

namespace bench {

namespace {

std::string Describe(const char* who, int expression, const Agreement& agreement) {
  char line[200];
  std::snprintf(line, sizeof line,
                "expression %d, %s: %d of %d points beyond tolerance (max relative error %.3g)",
                expression + 1, who, agreement.OutOfTolerance, GridSize, agreement.MaxRelativeError);
  return line;
}

template <typename Formula>
double AllocationsPerEvaluation(Formula& formula) {
  formula.Sweep(Grid());  // anything lazy happens before counting
  const std::size_t count = AllocationsDuring([&] { formula.Sweep(Grid()); });
  return static_cast<double>(count) / GridSize;
}

ExpressionFacts FactsOf(int index, std::vector<std::string>& mismatches) {
  const Expression& expression = Expressions()[index];
  ExpressionFacts facts;
  facts.Ours = CheckOurs(expression, Grid());
  facts.Peer = CheckPeer(expression, Grid());
  if (facts.Ours.OutOfTolerance) mismatches.push_back(Describe("ours", index, facts.Ours));
  if (facts.Peer.OutOfTolerance) mismatches.push_back(Describe("fparser", index, facts.Peer));
  if (facts.Ours.Inconsistent)
    mismatches.push_back("expression " + std::to_string(index + 1) + ", ours: " +
                         std::to_string(facts.Ours.Inconsistent) +
                         " points where compile-time and later values differ");

  OurFormula ours(expression.Ours);
  PeerFormula peer(expression.Peer);
  facts.OurAllocationsPerEvaluation = AllocationsPerEvaluation(ours);
  facts.PeerAllocationsPerEvaluation = AllocationsPerEvaluation(peer);
  facts.OurAllocationsPerCompile =
      static_cast<double>(AllocationsDuring([&] { ours.CompileAt(1.5, 2.5); }));
  facts.Bytecode = MeasureBytecode(ours.Compiled().GetBytecode());
  return facts;
}

EnterFacts EnterFactsOf(const CommandLine& line, std::vector<std::string>& mismatches) {
  EnterFacts facts;
  facts.Allocations = static_cast<double>(AllocationsDuring(
      [&] { facts.Result = EvaluateCommandLine(line.Text, EnterUnitSystem); }));
  if (facts.Result != line.Expected)
    mismatches.push_back(std::string("Enter on ") + line.Text + " gave " + facts.Result +
                         ", expected " + line.Expected);
  return facts;
}

}  // namespace

Facts GatherFacts() {
  Facts facts;
  for (int i = 0; i < ExpressionCount; ++i) facts.Expressions[i] = FactsOf(i, facts.Mismatches);
  for (std::size_t i = 0; i < EnterCommandLines.size(); ++i)
    facts.Enter[i] = EnterFactsOf(EnterCommandLines[i], facts.Mismatches);
  return facts;
}

}  // namespace bench
