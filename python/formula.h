// vorncalc.Formula: a formula compiled once with its variables, Python
// functions and constants, evaluated at one point or over arrays, pickled
// as what it was made from.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "python/evaluator.h"
#include "python/python_function.h"

namespace PythonModule {

class Formula {
 public:
  // Reads and checks the arguments as Formula(text, variables, functions,
  // constants, units, seed, math, threads) takes them, then compiles: a
  // refused formula or name, and a name given twice, raise FormulaError.
  Formula(const pybind11::handle text, const pybind11::handle variables, const pybind11::handle functions,
          const pybind11::handle constants, const pybind11::handle units, const pybind11::handle seed,
          const pybind11::handle math, const pybind11::handle threads);
  Formula(const Formula&) = delete;
  Formula& operator=(const Formula&) = delete;

  // A float for numbers only, else the array of results (see array_loop.h).
  pybind11::object Call(const pybind11::args& positional, const pybind11::kwargs& keywords);

  // What pickle calls the class with to make it again.
  pybind11::tuple Arguments() const;
  // Everything that decides the results, for Dask's tokenize: two Formulas
  // with the same token compute the same values (threads decide none).
  pybind11::tuple Token() const;

  const std::string& Text() const { return Definition.Text; }
  const std::vector<std::string>& Variables() const { return Definition.Variables; }
  std::optional<int> UnitSystem() const { return Definition.Units; }
  std::optional<std::uint32_t> Seed() const { return Definition.Seed; }
  MathUtils::MathLibrary Math() const { return Definition.Math; }
  // Its own count of threads over arrays; none: the process-wide default.
  std::optional<int> Threads() const { return OwnThreads; }
  bool CallsPython() const { return PythonCalled; }

 private:
  // An evaluator of its own for one call, returned to the pool after it.
  class Lease;
  std::unique_ptr<Evaluator> Take();
  void Give(std::unique_ptr<Evaluator> evaluator);

  FormulaDefinition Definition;
  std::optional<int> OwnThreads;
  pybind11::dict GivenFunctions;  // as given, name to callable
  std::vector<std::unique_ptr<PythonFunction>> Functions;
  bool PythonCalled = false;
  // Evaluators no call uses; a call that finds none makes one.
  std::mutex PoolLock;
  std::vector<std::unique_ptr<Evaluator>> Pool;
};

}  // namespace PythonModule
