// The extension vorncalc._vorncalc, which the package vorncalc exports: the
// calculator's evaluation of a command line and compiled formulas over
// NumPy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "calculator/calculator_driver.h"
#include "calculator/random_draws.h"
#include "calculator/unit_operators.h"
#include "python/array_loop.h"
#include "python/formula.h"
#include "python/formula_error.h"
#include "python/formula_text.h"
#include "python/math_argument.h"
#include "python/seed_argument.h"
#include "python/thread_setting.h"
#include "python/unit_argument.h"

namespace py = pybind11;

namespace {

constexpr const char* ModuleDoc =
    R"doc(Formulas with unit suffixes, compiled once, evaluated over NumPy arrays.

The formula language of the vorncalc calculator: + - * / ^, comparisons,
and, or, functions such as sin (degrees), sinr (radians), sqrt, sum, min and
max, and with a unit system the suffixes of lengths (5mm, 2in, 3ft?). It is
safe by construction: a formula can only compute with the names it is given.

Coming from NumPy: angles are in degrees (sin(30) is 0.5), log is the base
10 logarithm (ln the natural one), the power is x^y (** is refused), and
min, max and sign keep the formula language's rule for NaN: max(x, 0) is 0
where x is NaN, max(0, x) NaN, sign(NaN) -1.

    >>> import numpy as np, vorncalc
    >>> vorncalc.evaluate("2*sin(30)+5mm", units="m")
    1.005
    >>> f = vorncalc.Formula("sqrt(x^2 + y^2)", variables=("x", "y"))
    >>> f(x=3.0, y=4.0)
    5.0
    >>> f(np.array([0.0, 3.0]), 4.0)
    array([4., 5.])
    >>> g = vorncalc.Formula("clamp(x, 0, 1) * k", variables=("x",),
    ...                      functions={"clamp": lambda v, lo, hi: min(max(v, lo), hi)},
    ...                      constants={"k": 2.5})
    >>> g(x=7)
    2.5

A Formula pickles (its functions by pickle's rules), so it travels to other
processes and to Dask's workers: da.map_blocks(f, x, y) evaluates it chunk by
chunk.

Long arrays are spread over threads: by default the CPUs the process may run
on (lowered by VORNCALC_NUM_THREADS or OMP_NUM_THREADS), shared out among
the calls under way at once (set_num_threads, get_num_threads, and a
Formula's own threads=); the values are those of one thread.

A formula the parser refuses raises FormulaError, a ValueError.
)doc";

constexpr const char* EvaluateDoc = R"doc(evaluate(text, units="mm", seed=None) -> float

vorncalc.evaluate, with the caller's arrays by name, calls this for a text
without them. The value of a command line as the CAD plug-in computes it on Enter in a
document of the given units: case-insensitive, the calculator's constants
(pi, e), unit suffixes converted into the document's units, and rnd.

units: "mm" (the default), "cm", "m", "km", "uin", "mil", "in", "ft", "mi"
(any case), or a unit system's number (2 to 10; any other leaves lengths
alone), as the vorncalc program's -u option takes them.
seed: None, or an int from 0 to 2**32 - 1: rnd then draws the same values
in every call with that seed, on every platform.

A non-finite value (1/0) is returned as it is. A text that is not a formula,
or holds a character outside ASCII or a NUL, raises FormulaError.
)doc";

constexpr const char* FormulaDoc =
    R"doc(Formula(text, variables=(), functions={}, constants={}, units=None, seed=None,
        math="c", threads=None)

A formula compiled once, then evaluated with one value per variable, by
position in the order of variables or by keyword:

    f = Formula("sqrt(x^2 + y^2)", variables=("x", "y"))
    f(x=3.0, y=4.0)                      # 5.0
    f(np.linspace(0, 1, 1000), 4.0)      # an ndarray of 1000 values

The vocabulary is the parser's default one (sin .. max, in degrees; the
names ending in r in radians) with the math functions round (half away
from zero), trunc, floor, ceil, r2d, d2r, cbrt, log1p, expm1, mod(x, y) (as
fmod), atan2(y, x) (degrees; atan2r in radians), hypot(x, y), pow(x, y) and
where(c, a, b) (a where c is not 0, else b; where(x > 0, ln(x), 0)).

variables: the names of the variables (a str is one name).
functions: a mapping of names to Python callables. A callable that takes
    exactly one positional argument is a function of one argument, any
    other is called with all the arguments of each call in the formula (a
    wrong number raises the callable's TypeError). Each must return a
    number; an exception it raises leaves the call of the formula unchanged.
constants: a mapping of names to numbers.
units: None for the parser's own vocabulary; a unit system (as evaluate
    takes it) for the calculator's vocabulary in those units: unit
    suffixes, pi, e, rnd. Unlike evaluate, names keep their case.
seed: None, or an int from 0 to 2**32 - 1 for rnd (with units): every call
    then draws from the start of the same sequence, so that a call gives
    the same values each time, in any process.
math: "c" (the default) for the C library's functions and powers, as the
    calculator computes them; "deterministic" for SLEEF's deterministic
    ones, several points at once over arrays: the same bits on every
    processor and vector width, within one unit in the last place of the
    C library's (sin, cos, tan, their inverses and hyperbolic forms, exp,
    ln, log, log10, cbrt, log1p, expm1, atan2, hypot, mod, pow and x^y;
    x^2 and x^1 stay exact products).
threads: None, or an int of at least 1: the threads that a call over long
    arrays spreads its points over (every value the same as on one). None
    takes the process-wide default (see set_num_threads), shared out among
    the calls over arrays under way at once, so that threads of a pool
    (Dask's chunks) do not each start a thread per core. A formula that
    calls Python functions runs on the calling thread alone.

Names are case-sensitive; functions and constants replace the vocabulary's
of the same name. A name given twice (two variables, or a variable and a
constant, ...) is refused, and so is a variable named as a function or
constant of the vocabulary, which would hide it.

A Formula pickles, copies and deep-copies as the arguments it was made with
(its functions by pickle's own rules), and Dask tells Formulas apart by all
of them.

A refused formula or name raises FormulaError.
)doc";

constexpr const char* CallDoc = R"doc(__call__(*values, out=None, **variables) -> float | numpy.ndarray

Evaluates the formula: one value per variable, positionally in the order of
the formula's variables and/or by keyword. Numbers only (Python or NumPy
numbers, arrays of no dimension) give a float. Otherwise the arrays (and
sequences, converted) broadcast together as NumPy's do, each number is held
at every point, and the result is an array of the broadcast shape in the
memory order of the arrays (NumPy's K order). Its type is float32 or float16
where NumPy's result type of the arrays is (each value the double rounded
once), else float64. Every value is computed in double precision and equals
the value of a call with the numbers at that point, bit for bit.

out: an array of the broadcast shape to write the results into (a float
    type; returned). A formula with a variable named out takes that
    variable as out= instead.

Arrays are evaluated in blocks, without the GIL unless the formula calls
Python functions, so several threads may evaluate one Formula at once; the
main thread sees Ctrl-C between blocks. Long blocks spread over threads
(see threads= of Formula).

An unknown, repeated or missing variable raises TypeError; arrays that do
not broadcast ValueError.
)doc";

constexpr const char* SetNumThreadsDoc = R"doc(set_num_threads(threads) -> int

Sets the process-wide default of threads for calls over arrays of Formulas
made without threads= (an int of at least 1; at first the CPUs the process
may run on, its affinity and cgroup CPU quota, lowered by VORNCALC_NUM_THREADS
or else OMP_NUM_THREADS) and returns the default it replaces. Calls under way at once
share it out: each runs on default // calls threads, at least one.
)doc";

constexpr const char* GetNumThreadsDoc = R"doc(get_num_threads() -> int

The process-wide default of threads for calls over arrays (see
set_num_threads).
)doc";

double EvaluateInUnits(const py::object& text, const py::object& units, const py::object& seed) {
  const std::string formula = PythonModule::FormulaText(text, "text");
  const int unitSystem = PythonModule::ReadUnitSystem(units);
  const std::optional<std::uint32_t> drawsSeed = PythonModule::ReadSeed(seed);
  try {
    if (!drawsSeed) return CommandLineValue(formula, unitSystem);
    MathUtils::Parser parser;
    RandomDraws draws(*drawsSeed);
    PrepareCommandLine(parser, formula, unitSystem);
    DrawRandomFrom(parser, draws);
    return parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    PythonModule::RaiseFormulaError(error, formula);
  }
}

// The names of the functions and constants of the calculator's vocabulary
// in the unit system: names that vorncalc.evaluate never takes from the
// caller's variables.
py::frozenset VocabularyNames(const py::object& units) {
  MathUtils::Parser parser;
  AddCalculatorVocabulary(parser, PythonModule::ReadUnitSystem(units));
  using Kind = MathUtils::ParserBase::NameKind;
  py::set names;
  parser.ForEachName([&](Kind kind, std::string_view name) {
    if (kind == Kind::Function || kind == Kind::Constant) names.add(py::str(name.data(), name.size()));
  });
  return py::frozenset(names);
}

std::string Represent(const PythonModule::Formula& formula) {
  std::string text = "vorncalc.Formula(" + std::string(py::repr(py::str(formula.Text())));
  if (!formula.Variables().empty())
    text += ", variables=" + std::string(py::repr(py::tuple(py::cast(formula.Variables()))));
  if (formula.UnitSystem()) text += ", units=" + std::to_string(*formula.UnitSystem());
  if (formula.Seed()) text += ", seed=" + std::to_string(*formula.Seed());
  if (formula.Math() != MathUtils::MathLibrary::C)
    text += ", math=\"" + std::string(PythonModule::MathLibraryName(formula.Math())) + "\"";
  if (formula.Threads()) text += ", threads=" + std::to_string(*formula.Threads());
  return text + ")";
}

// A Formula is called as a function is, and Dask and xarray name their
// tasks after a callable's __name__, else after its repr, which they later
// split at each "-": "x - 1" would break the graph. The names go into the
// class's own dictionary: the class's __name__ stays its type's, while an
// instance finds these.
void NameTheInstances(const py::object& formulaClass) {
  PyObject* const dictionary = reinterpret_cast<PyTypeObject*>(formulaClass.ptr())->tp_dict;
  for (const char* attribute : {"__name__", "__qualname__"})
    if (PyDict_SetItemString(dictionary, attribute, py::str("Formula").ptr()) < 0)
      throw py::error_already_set();
  PyType_Modified(reinterpret_cast<PyTypeObject*>(formulaClass.ptr()));
}

}  // namespace

PYBIND11_MODULE(_vorncalc, module) {
  PythonModule::ImportNumPy();
  module.doc() = ModuleDoc;
  module.attr("__version__") = VORNCALC_VERSION;
  PythonModule::AddFormulaError(module);
  module.def("evaluate", &EvaluateInUnits, py::arg("text"), py::arg("units") = "mm",
             py::arg("seed") = py::none(), EvaluateDoc);
  module.def("_vocabulary_names", &VocabularyNames, py::arg("units"),
             "The names of the calculator's functions and constants in the unit system.");
  module.def(
      "set_num_threads",
      [](const py::object& threads) {
        const std::optional<int> count = PythonModule::ReadThreads(threads);
        if (!count) throw py::type_error("threads takes an int, not NoneType");
        return PythonModule::SetDefaultThreads(*count);
      },
      py::arg("threads"), SetNumThreadsDoc);
  module.def("get_num_threads", &PythonModule::DefaultThreads, GetNumThreadsDoc);

  py::class_<PythonModule::Formula>(module, "Formula", FormulaDoc)
      .def(py::init([](const py::object& text, const py::object& variables, const py::object& functions,
                       const py::object& constants, const py::object& units, const py::object& seed,
                       const py::object& math, const py::object& threads) {
             return std::make_unique<PythonModule::Formula>(text, variables, functions, constants, units,
                                                            seed, math, threads);
           }),
           py::arg("text"), py::arg("variables") = py::tuple(), py::arg("functions") = py::dict(),
           py::arg("constants") = py::dict(), py::arg("units") = py::none(), py::arg("seed") = py::none(),
           py::arg("math") = "c", py::arg("threads") = py::none())
      .def("__call__", &PythonModule::Formula::Call, CallDoc)
      .def_property_readonly("text", &PythonModule::Formula::Text, "The formula's text.")
      .def_property_readonly(
          "variables", [](const PythonModule::Formula& f) { return py::tuple(py::cast(f.Variables())); },
          "The names of the variables, as given.")
      .def_property_readonly("units", &PythonModule::Formula::UnitSystem,
                             "The unit system's number, or None for the parser's vocabulary.")
      .def_property_readonly("seed", &PythonModule::Formula::Seed, "The seed of rnd's draws, or None.")
      .def_property_readonly(
          "math", [](const PythonModule::Formula& f) { return PythonModule::MathLibraryName(f.Math()); },
          "The math library: \"c\" or \"deterministic\".")
      .def_property_readonly("threads", &PythonModule::Formula::Threads,
                             "The threads of a call over arrays, or None for the process-wide default.")
      .def_property_readonly("calls_python", &PythonModule::Formula::CallsPython,
                             "Whether the formula calls a Python function, and so keeps the GIL.")
      .def(
          "__reduce__",
          [](const py::object& self) {
            return py::make_tuple(py::type::of(self), self.cast<const PythonModule::Formula&>().Arguments());
          },
          "Pickles the Formula as the arguments it was made with.")
      .def("__dask_tokenize__", &PythonModule::Formula::Token,
           "What decides the results: the text, variables, constants, functions, units, seed and math.")
      .def("__repr__", &Represent);
  NameTheInstances(module.attr("Formula"));
}
