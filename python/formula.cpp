#include "python/formula.h"

#include <pybind11/numpy.h>

#include <utility>

#include "calculator/unit_operators.h"
#include "python/formula_error.h"

namespace py = pybind11;

namespace PythonModule {

Formula::Formula(std::string text, std::vector<std::string> variables, const py::dict& functions,
                 const py::dict& constants, std::optional<int> unitSystem)
    : FormulaText(std::move(text)),
      Names(std::move(variables)),
      Units(unitSystem),
      Cells(new double[Names.size()]()) {
  try {
    if (Units) AddCalculatorVocabulary(Parser, *Units);
    Define(functions, constants);
    Parser.AssignFormula(FormulaText);
    Compile();
  } catch (const MathUtils::ParserException& error) {
    RaiseFormulaError(error, FormulaText);
  }
}

namespace {

// A key of functions= or constants=: TypeError for anything but a str.
std::string NameOf(const py::handle key, const char* what) {
  if (!PyUnicode_Check(key.ptr()))
    throw py::type_error(std::string(what) + " are named by str, not " +
                         std::string(py::str(py::type::handle_of(key).attr("__name__"))));
  return py::cast<std::string>(key);
}

}  // namespace

void Formula::Define(const py::dict& functions, const py::dict& constants) {
  for (std::size_t i = 0; i < Names.size(); ++i) Parser.AddVariable(Names[i], &Cells[i]);
  for (const auto& [name, value] : constants) {
    const double number = PyFloat_AsDouble(value.ptr());  // TypeError for what is no number
    if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    Parser.AddConstant(NameOf(name, "constants"), number);
  }
  for (const auto& [key, callable] : functions) {
    const std::string name = NameOf(key, "functions");
    if (!PyCallable_Check(callable.ptr())) throw py::type_error("function '" + name + "' is not callable");
    Functions.push_back(std::make_unique<PythonFunction>(py::reinterpret_borrow<py::object>(callable)));
    Functions.back()->Define(Parser, name);
  }
}

void Formula::Compile() {
  for (auto& function : Functions) function->Mute(true);
  try {
    Parser.Evaluate();
  } catch (...) {
    for (auto& function : Functions) function->Mute(false);
    throw;
  }
  for (auto& function : Functions) {
    function->Mute(false);
    PythonCalled = PythonCalled || function->UsedByFormula();
  }
}

py::object Formula::Call(const py::args& positional, const py::kwargs& keywords) {
  const CallArguments arguments = ReadCallArguments(Names, positional, keywords);
  if (!arguments.AnyArray) {
    double result = 0;
    EvaluatePoints(arguments, std::span<double>(&result, 1));
    return py::float_(result);
  }
  py::array_t<double> results(arguments.Shape);
  EvaluatePoints(arguments, std::span<double>(results.mutable_data(), arguments.Points));
  return results;
}

void Formula::EvaluatePoints(const CallArguments& arguments, std::span<double> results) {
  std::vector<MathUtils::VariableArray> variables(Names.size());
  for (std::size_t i = 0; i < Names.size(); ++i) variables[i] = {&Cells[i], arguments.Values[i].data()};
  try {
    if (PythonCalled) {
      Parser.EvaluateArrays(variables, results);
    } else {
      py::gil_scoped_release released;
      Parser.EvaluateArrays(variables, results);
    }
  } catch (const MathUtils::ParserException& error) {
    RaiseFormulaError(error, FormulaText);
  }
}

}  // namespace PythonModule
