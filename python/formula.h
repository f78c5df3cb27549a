// vorncalc.Formula: a formula compiled once with its variables, Python
// functions and constants, evaluated at one point or over arrays.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "parser/parser.h"
#include "python/call_arguments.h"
#include "python/python_function.h"

namespace PythonModule {

class Formula {
 public:
  // Compiles the text; a refused formula or definition raises FormulaError.
  // With a unit system the formula has the calculator's vocabulary in it,
  // else the parser's default vocabulary.
  Formula(std::string text, std::vector<std::string> variables, const pybind11::dict& functions,
          const pybind11::dict& constants, std::optional<int> unitSystem);
  Formula(const Formula&) = delete;
  Formula& operator=(const Formula&) = delete;

  // A float for numbers only, else an array of the arrays' shape.
  pybind11::object Call(const pybind11::args& positional, const pybind11::kwargs& keywords);

  const std::string& Text() const { return FormulaText; }
  const std::vector<std::string>& Variables() const { return Names; }
  std::optional<int> UnitSystem() const { return Units; }
  // Whether evaluating it calls a Python function (and so keeps the GIL).
  bool CallsPython() const { return PythonCalled; }

 private:
  void Define(const pybind11::dict& functions, const pybind11::dict& constants);
  // The first evaluation compiles, with the Python functions muted: the
  // evaluations that the callers make then only run what is compiled, as
  // several threads may at once.
  void Compile();
  // Evaluates every point into results; the GIL is released meanwhile
  // unless the formula calls Python.
  void EvaluatePoints(const CallArguments& arguments, std::span<double> results);

  MathUtils::Parser Parser;
  std::string FormulaText;
  std::vector<std::string> Names;
  std::optional<int> Units;
  // The variables' own cells, one per name, whose addresses the parser
  // knows; every call gives the values of its points instead.
  std::unique_ptr<double[]> Cells;
  std::vector<std::unique_ptr<PythonFunction>> Functions;
  bool PythonCalled = false;
};

}  // namespace PythonModule
