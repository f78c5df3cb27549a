// The Python module vorncalc: the calculator's evaluation of a command line
// and compiled formulas over NumPy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "calculator/calculator_driver.h"
#include "python/formula.h"
#include "python/formula_error.h"
#include "python/unit_argument.h"

namespace py = pybind11;

namespace {

constexpr const char* ModuleDoc =
    R"doc(Formulas with unit suffixes, compiled once, evaluated over NumPy arrays.

The formula language of the vorncalc calculator: + - * / ^, comparisons,
and, or, functions such as sin (degrees), sinr (radians), sqrt, sum, min and
max, and with a unit system the suffixes of lengths (5mm, 2in, 3ft?). It is
safe by construction: a formula can only compute with the names it is given.

    >>> import numpy as np, vorncalc
    >>> vorncalc.evaluate("2*sin(30)+5mm", units="m")
    1.005
    >>> f = vorncalc.Formula("sqrt(x^2 + y^2)", variables=("x", "y"))
    >>> f(x=3.0, y=4.0)
    5.0
    >>> f(x=np.array([0.0, 3.0]), y=4.0)
    array([4., 5.])
    >>> g = vorncalc.Formula("clamp(x, 0, 1) * k", variables=("x",),
    ...                      functions={"clamp": lambda v, lo, hi: min(max(v, lo), hi)},
    ...                      constants={"k": 2.5})
    >>> g(x=7)
    2.5

A formula the parser refuses raises FormulaError, a ValueError.
)doc";

constexpr const char* EvaluateDoc = R"doc(evaluate(text, units="mm") -> float

The value of a command line as the CAD plug-in computes it on Enter in a
document of the given units: case-insensitive, the calculator's constants
(pi, e), unit suffixes converted into the document's units, and rnd.

units: "mm" (the default), "cm", "m", "km", "uin", "mil", "in", "ft", "mi"
(any case), or a unit system's number (2 to 10; any other leaves lengths
alone), as the vorncalc program's -u option takes them.

A non-finite value (1/0) is returned as it is. A text that is not a formula
raises FormulaError.
)doc";

constexpr const char* FormulaDoc = R"doc(Formula(text, variables=(), functions={}, constants={}, units=None)

A formula compiled once, then evaluated with keyword arguments, one per
variable:

    f = Formula("sqrt(x^2 + y^2)", variables=("x", "y"))
    f(x=3.0, y=4.0)                      # 5.0
    f(x=np.linspace(0, 1, 1000), y=4.0)  # an ndarray of 1000 values

variables: the names of the variables, in any order.
functions: names and Python callables. A callable that takes exactly one
    positional argument is a function of one argument, any other is called
    with all the arguments of each call in the formula (a wrong number
    raises the callable's TypeError). Each must return a number; an
    exception it raises leaves the call of the formula unchanged.
constants: names and numbers.
units: None for the parser's own vocabulary; a unit system (as evaluate
    takes it) for the calculator's vocabulary in those units: unit
    suffixes, pi, e, rnd. Unlike evaluate, names keep their case.

Names are case-sensitive; functions and constants replace the vocabulary's
of the same name.

A refused formula or name raises FormulaError.
)doc";

constexpr const char* CallDoc = R"doc(__call__(**variables) -> float | numpy.ndarray

Evaluates the formula. Every variable is given as a keyword argument: all
numbers give a float; any array (or sequence convertible to float64, converted
once) gives an array of its shape, the numbers held at every point, every array
of one shape. Each value equals the value of a call with the numbers at that
point, bit for bit.

Arrays are evaluated without the GIL unless the formula calls Python
functions, so several threads may evaluate one Formula at once.

An unknown or missing variable, or a positional argument, raises TypeError.
)doc";

std::optional<int> OptionalUnitSystem(const py::object& units) {
  if (units.is_none()) return std::nullopt;
  return PythonModule::ReadUnitSystem(units);
}

double EvaluateInUnits(const std::string& text, const py::object& units) {
  const int unitSystem = PythonModule::ReadUnitSystem(units);
  try {
    return CommandLineValue(text, unitSystem);
  } catch (const MathUtils::ParserException& error) {
    PythonModule::RaiseFormulaError(error, text);
  }
}

std::string Represent(const PythonModule::Formula& formula) {
  std::string text = "vorncalc.Formula(" + std::string(py::repr(py::str(formula.Text())));
  if (!formula.Variables().empty())
    text += ", variables=" + std::string(py::repr(py::tuple(py::cast(formula.Variables()))));
  if (formula.UnitSystem()) text += ", units=" + std::to_string(*formula.UnitSystem());
  return text + ")";
}

}  // namespace

PYBIND11_MODULE(vorncalc, module) {
  module.doc() = ModuleDoc;
  module.attr("__version__") = VORNCALC_VERSION;
  PythonModule::AddFormulaError(module);
  module.def("evaluate", &EvaluateInUnits, py::arg("text"), py::arg("units") = "mm", EvaluateDoc);

  py::class_<PythonModule::Formula>(module, "Formula", FormulaDoc)
      .def(py::init([](std::string text, std::vector<std::string> variables, const py::dict& functions,
                       const py::dict& constants, const py::object& units) {
             return std::make_unique<PythonModule::Formula>(std::move(text), std::move(variables), functions,
                                                            constants, OptionalUnitSystem(units));
           }),
           py::arg("text"), py::arg("variables") = py::tuple(), py::arg("functions") = py::dict(),
           py::arg("constants") = py::dict(), py::arg("units") = py::none())
      .def("__call__", &PythonModule::Formula::Call, CallDoc)
      .def_property_readonly("text", &PythonModule::Formula::Text, "The formula's text.")
      .def_property_readonly(
          "variables", [](const PythonModule::Formula& f) { return py::tuple(py::cast(f.Variables())); },
          "The names of the variables, as given.")
      .def_property_readonly("units", &PythonModule::Formula::UnitSystem,
                             "The unit system's number, or None for the parser's vocabulary.")
      .def_property_readonly("calls_python", &PythonModule::Formula::CallsPython,
                             "Whether the formula calls a Python function, and so keeps the GIL.")
      .def("__repr__", &Represent);
}
