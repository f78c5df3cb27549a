// One parser of a Formula, with cells of its own for the variables and, for
// a seeded formula, draws of its own for rnd. A call of the Formula takes
// an evaluator for itself: the numbers it holds in the cells and the draws
// it makes are that call's alone, whichever threads call at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "calculator/random_draws.h"
#include "parser/parser.h"
#include "python/python_function.h"

namespace PythonModule {

// What decides a Formula's results, as it was made.
struct FormulaDefinition {
  std::string Text;
  std::vector<std::string> Variables;
  std::vector<std::pair<std::string, double>> Constants;
  // The names of the Python functions, in the order of the Formula's
  // PythonFunction objects.
  std::vector<std::string> FunctionNames;
  std::optional<int> Units;  // none: the parser's own vocabulary
  std::optional<std::uint32_t> Seed;
  MathUtils::MathLibrary Math = MathUtils::MathLibrary::C;
};

class Evaluator {
 public:
  // Defines everything and compiles, with the Python functions muted (see
  // PythonFunction::Mute); throws MathUtils::ParserException for a refused
  // formula or name. Called with the GIL held.
  Evaluator(const FormulaDefinition& definition, std::span<const std::unique_ptr<PythonFunction>> functions);
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;

  // Before each call: a seeded formula draws from its seed again.
  void Restart() {
    if (Draws) Draws->Restart();
  }
  // The cell of variable i: the parser reads a number held for a call here.
  double& Cell(std::size_t i) { return Cells[i]; }
  const double* CellAddress(std::size_t i) const { return &Cells[i]; }
  MathUtils::Parser& GetParser() { return Parser; }
  // Whether the formula calls a Python function (and so keeps the GIL).
  bool CallsPython() const { return PythonCalled; }

 private:
  std::unique_ptr<double[]> Cells;
  std::optional<RandomDraws> Draws;
  MathUtils::Parser Parser;
  bool PythonCalled = false;
};

}  // namespace PythonModule
