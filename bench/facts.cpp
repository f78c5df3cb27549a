#include "bench/facts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "bench/allocation_counter.h"
#include "bench/formulas.h"
#include "bench/result_checks.h"
#include "calculator/calculator_driver.h"

namespace Bench {

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

// The memory a parser holds once build(parser) has run: the parser is made on
// the heap so that the object itself counts. The first parser ever built may
// set up shared tables once; that one is built and dropped unmeasured.
template <typename Parser, typename Build>
std::int64_t ParserBytes(Build&& build) {
  {
    auto warmUp = std::make_unique<Parser>();
    build(*warmUp);
  }
  std::unique_ptr<Parser> parser;
  return BytesKeptBy([&] {
    parser = std::make_unique<Parser>();
    build(*parser);
  });
}

ExpressionFacts FactsOf(int index, std::vector<std::string>& mismatches) {
  const Expression& expression = Expressions()[index];
  ExpressionFacts facts;
  facts.Ours = CheckOurs(expression, Grid());
  facts.Peer = CheckPeer(expression, Grid());
  if (facts.Ours.OutOfTolerance) mismatches.push_back(Describe("ours", index, facts.Ours));
  if (facts.Peer.OutOfTolerance) mismatches.push_back(Describe("fparser", index, facts.Peer));
  if (facts.Ours.Inconsistent)
    mismatches.push_back("expression " + std::to_string(index + 1) +
                         ", ours: " + std::to_string(facts.Ours.Inconsistent) +
                         " points where compile-time and later values differ");

  OurFormula ours(expression.Ours);
  PeerFormula peer(expression.Peer);
  facts.OurAllocationsPerEvaluation = AllocationsPerEvaluation(ours);
  facts.PeerAllocationsPerEvaluation = AllocationsPerEvaluation(peer);
  facts.OurMachineCodeBytes = static_cast<std::int64_t>(ours.Compiled().MachineCodeSize());
  facts.OurAllocationsPerCompile = static_cast<double>(AllocationsDuring([&] { ours.CompileAt(1.5, 2.5); }));
  facts.Bytecode = MeasureBytecode(ours.Compiled().GetBytecode());

  double x = 1.5, y = 2.5;
  facts.OurParserBytes = ParserBytes<MathUtils::Parser>([&](MathUtils::Parser& parser) {
    PrepareOurParser(parser, &x, &y);
    parser.AssignFormula(expression.Ours);
    parser.Evaluate();
  });
  facts.PeerParserBytes = ParserBytes<FunctionParser>([&](FunctionParser& parser) {
    PreparePeerParser(parser);
    ParsePeerFormula(parser, expression.Peer);
  });
  return facts;
}

template <typename Shot>
OneShotSide SideOf(const char* who, const char* text, double native, Shot&& shot,
                   std::vector<std::string>& mismatches) {
  OneShotSide side;
  side.Allocations = static_cast<double>(AllocationsDuring([&] { side.Value = shot(text); }));
  side.Exact = std::bit_cast<std::uint64_t>(side.Value) == std::bit_cast<std::uint64_t>(native);
  if (!(std::fabs(side.Value - native) <= RelativeTolerance * std::max(std::fabs(native), 1.0))) {
    char line[200];
    std::snprintf(line, sizeof line, "one-shot %s, %s: %.17g, native %.17g", text, who, side.Value, native);
    mismatches.push_back(line);
  }
  return side;
}

OneShotFacts OneShotFactsOf(const OneShotFormula& formula, std::vector<std::string>& mismatches) {
  OneShotFacts facts;
  facts.Ours = SideOf("ours", formula.Ours, formula.Native, OurOneShot, mismatches);
  facts.Peer = SideOf("fparser", formula.Peer, formula.Native, PeerOneShot, mismatches);
  facts.Ours.ParserBytes = ParserBytes<MathUtils::Parser>([&](MathUtils::Parser& parser) {
    parser.AssignFormula(formula.Ours);
    parser.Evaluate();
  });
  facts.Peer.ParserBytes = ParserBytes<FunctionParser>([&](FunctionParser& parser) {
    if (parser.Parse(formula.Peer, "", true) >= 0)
      throw std::runtime_error(std::string("fparser cannot parse ") + formula.Peer);
  });
  return facts;
}

EnterFacts EnterFactsOf(const CommandLine& line, std::vector<std::string>& mismatches) {
  EnterFacts facts;
  // The first press in a unit system builds its vocabulary, once for the process.
  EvaluateCommandLine(line.Text, EnterUnitSystem);
  facts.Allocations = static_cast<double>(
      AllocationsDuring([&] { facts.Result = EvaluateCommandLine(line.Text, EnterUnitSystem); }));
  if (facts.Result != line.Expected)
    mismatches.push_back(std::string("Enter on ") + line.Text + " gave " + facts.Result + ", expected " +
                         line.Expected);
  return facts;
}

}  // namespace

Facts GatherFacts() {
  Facts facts;
  for (int i = 0; i < ExpressionCount; ++i) facts.Expressions[i] = FactsOf(i, facts.Mismatches);
  for (int i = 0; i < OneShotCount; ++i)
    facts.OneShot[i] = OneShotFactsOf(OneShotFormulas()[i], facts.Mismatches);
  for (std::size_t i = 0; i < EnterCommandLines.size(); ++i)
    facts.Enter[i] = EnterFactsOf(EnterCommandLines[i], facts.Mismatches);
  return facts;
}

}  // namespace Bench
