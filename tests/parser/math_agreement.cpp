// The long comparison of the deterministic math library's tiers: for every
// built-in function (the math functions beyond the defaults included) and
// for "^", the results over arrays
// (the block interpreter and the machine code in lanes of every width) and
// the results of one compilation per point (folded, and the first
// evaluation) bit for bit against the vocabulary's own scalar function.
// Usage: math_agreement POINTS COMPILED_POINTS; exits 1 on any difference,
// 0 (saying so) where the build has no deterministic library.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "math_inputs.h"
#include "parser/builtins.h"
#include "parser/commands.h"
#include "parser/math_library.h"
#include "parser/parser.h"
#include "parser/vocabulary.h"

namespace {

using MathUtils::MathLibrary;

struct TierParser : MathUtils::Parser {
  TierParser(bool machineCode, int lanes) {
    SetMathLibrary(MathLibrary::Deterministic);
    AddMathFunctions();
    SetMachineCode(machineCode);
    SetArrayLanes(lanes);
    AddVariable("x", &X);
    AddVariable("y", &Y);
  }
  MathUtils::UnaryCallback Callback(std::string_view name) const {
    return reinterpret_cast<MathUtils::UnaryCallback>(Registry().Functions.Find(name)->Callback);
  }
  MathUtils::ListCallback ListCallback(std::string_view name) const {
    return reinterpret_cast<MathUtils::ListCallback>(Registry().Functions.Find(name)->Callback);
  }
  double X = 0, Y = 0;
};

struct Tier {
  const char* Name;
  bool MachineCode;
  int Lanes;
};
constexpr Tier Tiers[] = {{"blocks", false, 8},
                          {"lanes 1", true, 1},
                          {"lanes 2", true, 2},
                          {"lanes 4", true, 4},
                          {"lanes 8", true, 8}};

// One formula: a function of x (of x, y and x in turn for a function of
// more arguments), or "^" of x and y or of x and a number.
struct Formula {
  std::string Name, OfX, OfC;
  double Exponent;  // 0: y
  int Arguments = 1;
};

std::vector<Formula> Formulas() {
  std::vector<Formula> formulas;
  for (const auto rows : {MathUtils::detail::BuiltinUnaryFunctions(MathLibrary::Deterministic),
                          MathUtils::detail::MathUnaryFunctions(MathLibrary::Deterministic)}) {
    for (const auto& row : rows) {
      const std::string name(row.Name);
      formulas.push_back({name, name + "(x)", name + "(c)", 0});
    }
  }
  for (const auto& row : MathUtils::detail::MathFixedFunctions(MathLibrary::Deterministic)) {
    const std::string name(row.Name), x = row.ArgCount == 3 ? ", x)" : ")",
                                      c = row.ArgCount == 3 ? ", c)" : ")";
    formulas.push_back({name, name + "(x, y" + x, name + "(c, d" + c, 0, row.ArgCount});
  }
  formulas.push_back({"^", "x^y", "c^d", 0});
  formulas.push_back({"^", "x^3", "c^3", 3});
  return formulas;
}

struct Mismatches {
  std::uint64_t Count = 0;
  std::string First;
  void Note(const std::string& where, double x, double y, double expected, double actual) {
    if (std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(actual)) return;
    if (Count++ > 0) return;
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s at x=%a y=%a: expected %a (0x%016" PRIx64 "), got %a (0x%016" PRIx64 ")", where.c_str(),
                  x, y, expected, std::bit_cast<std::uint64_t>(expected), actual,
                  std::bit_cast<std::uint64_t>(actual));
    First = text;
  }
};

class Comparison {
 public:
  explicit Comparison(const Formula& formula) : Of(formula) {
    for (const Tier& tier : Tiers) {
      Parsers.push_back(std::make_unique<TierParser>(tier.MachineCode, tier.Lanes));
      Parsers.back()->AssignFormula(formula.OfX);
    }
  }

  double Expected(double x, double y) const {
    if (Of.Arguments > 1) {
      const double arguments[] = {x, y, x};
      return Parsers[0]->ListCallback(Of.Name)({arguments, static_cast<std::size_t>(Of.Arguments)});
    }
    if (Of.Name != "^") return Parsers[0]->Callback(Of.Name)(x);
    return MathUtils::Power(x, Of.Exponent != 0 ? Of.Exponent : y,
                            MathUtils::detail::PowerFunctionOf(MathLibrary::Deterministic));
  }

  void OverArrays(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> expected(x.size()), results(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) expected[i] = Expected(x[i], y[i]);
    for (std::size_t t = 0; t < std::size(Tiers); ++t) {
      TierParser& parser = *Parsers[t];
      const MathUtils::VariableArray arrays[] = {{&parser.X, x.data()}, {&parser.Y, y.data()}};
      parser.EvaluateArrays(arrays, results);
      for (std::size_t i = 0; i < x.size(); ++i)
        if (std::bit_cast<std::uint64_t>(expected[i]) != std::bit_cast<std::uint64_t>(results[i]))
          Found.Note(Of.OfX + " " + Tiers[t].Name, x[i], y[i], expected[i], results[i]);
    }
    Points += x.size();
  }

  // One compilation per point: the constants fold where the function is
  // optimisable; the variables are read by the first evaluation.
  void Compiled(const std::vector<double>& x, const std::vector<double>& y, std::size_t count) {
    MathUtils::Parser folding, first;
    folding.SetMathLibrary(MathLibrary::Deterministic);
    first.SetMathLibrary(MathLibrary::Deterministic);
    folding.AddMathFunctions();
    first.AddMathFunctions();
    double xv = 0, yv = 0;
    first.AddVariable("x", &xv);
    first.AddVariable("y", &yv);
    for (std::size_t i = 0; i < std::min(count, x.size()); ++i) {
      folding.AddConstant("c", x[i]);
      folding.AddConstant("d", y[i]);
      folding.AssignFormula(Of.OfC);
      xv = x[i];
      yv = y[i];
      first.AssignFormula(Of.OfX);
      const double expected = Expected(x[i], y[i]);
      Found.Note(Of.OfC + " compiled", x[i], y[i], expected, folding.Evaluate());
      Found.Note(Of.OfX + " first evaluation", x[i], y[i], expected, first.Evaluate());
    }
  }

  bool Report() const {
    std::printf("%-10s %12" PRIu64 " points, %" PRIu64 " differences%s%s\n", Of.OfX.c_str(), Points,
                Found.Count, Found.Count ? ": first " : "", Found.First.c_str());
    return Found.Count == 0;
  }

 private:
  const Formula& Of;
  std::vector<std::unique_ptr<TierParser>> Parsers;
  Mismatches Found;
  std::uint64_t Points = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (!MathUtils::ParserBase::MathLibraryAvailable(MathLibrary::Deterministic)) {
    std::puts("no deterministic math library in this build: nothing to compare");
    return 0;
  }
  const std::size_t points = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  const std::size_t compiled = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000;
  const std::vector<Formula> formulas = Formulas();
  std::vector<std::unique_ptr<Comparison>> comparisons;
  for (const Formula& formula : formulas) comparisons.push_back(std::make_unique<Comparison>(formula));
  constexpr std::size_t Chunk = std::size_t{1} << 20;
  ParserTests::MathInputs inputs(20261208);
  std::vector<double> x, y;
  for (std::size_t done = 0; done < points; done += x.size()) {
    const std::size_t count = std::min(Chunk, points - done);
    x.resize(count);
    y.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      x[i] = inputs.Next();
      y[i] = inputs.Next();
    }
    for (auto& comparison : comparisons) {
      if (done == 0) comparison->Compiled(x, y, compiled);
      comparison->OverArrays(x, y);
    }
  }
  bool same = true;
  for (const auto& comparison : comparisons) same = comparison->Report() && same;
  return same ? 0 : 1;
}
