#include "python/formula.h"

#include <Python.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "python/array_loop.h"
#include "python/call_arguments.h"
#include "python/formula_error.h"
#include "python/formula_text.h"
#include "python/math_argument.h"
#include "python/seed_argument.h"
#include "python/thread_setting.h"
#include "python/unit_argument.h"

namespace py = pybind11;

namespace PythonModule {

namespace {

std::string TypeName(const py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

// A name of variables=, functions= or constants=: TypeError for anything
// but a str.
std::string NameOf(const py::handle name, const char* what) {
  if (!PyUnicode_Check(name.ptr()))
    throw py::type_error(std::string(what) + " are named by str, not " + TypeName(name));
  return NameText(name);
}

// variables=: a str is one name, any other iterable gives names.
std::vector<std::string> ReadVariables(const py::handle variables) {
  if (PyUnicode_Check(variables.ptr())) return {NameText(variables)};
  std::vector<std::string> names;
  for (const py::handle name : py::iter(variables)) names.push_back(NameOf(name, "variables"));
  return names;
}

// functions= and constants=: any mapping, read once.
py::dict ReadMapping(const py::handle mapping, const char* what) {
  const py::object abstractMapping = py::module_::import("collections.abc").attr("Mapping");
  if (!py::isinstance(mapping, abstractMapping))
    throw py::type_error(std::string(what) + " takes a mapping of names, not " + TypeName(mapping));
  return py::dict(py::reinterpret_borrow<py::object>(mapping).attr("items")());
}

// Every name once: a variable, constant or function named twice would leave
// one of them unused, without a word.
void RefuseNamesGivenTwice(const FormulaDefinition& definition, const py::object& text) {
  std::map<std::string, const char*> kinds;
  const auto add = [&](const std::string& name, const char* kind) {
    const auto [place, added] = kinds.emplace(name, kind);
    if (added) return;
    const std::string as = place->second == std::string_view(kind)
                               ? std::string("twice as a ") + kind
                               : std::string("as a ") + place->second + " and as a " + kind;
    RaiseFormulaError("the name '" + name + "' is given " + as, std::nullopt, text);
  };
  for (const std::string& name : definition.Variables) add(name, "variable");
  for (const auto& constant : definition.Constants) add(constant.first, "constant");
  for (const std::string& name : definition.FunctionNames) add(name, "function");
}

// A variable named as a function or constant of the vocabulary would never
// be read: the parser takes the vocabulary's name first.
void RefuseVariablesTheVocabularyHides(MathUtils::Parser& parser, const FormulaDefinition& definition,
                                       const py::object& text) {
  using Kind = MathUtils::ParserBase::NameKind;
  std::string hidden;
  const char* hiddenBy = nullptr;
  parser.ForEachName([&](Kind kind, std::string_view name) {
    if (!hidden.empty() || (kind != Kind::Function && kind != Kind::Constant)) return;
    if (std::find(definition.Variables.begin(), definition.Variables.end(), name) ==
        definition.Variables.end())
      return;
    hidden = name;
    hiddenBy = kind == Kind::Function ? "function" : "constant";
  });
  if (!hidden.empty())
    RaiseFormulaError("the variable '" + hidden + "' has the name of a " + hiddenBy + " of the vocabulary",
                      std::nullopt, text);
}

}  // namespace

class Formula::Lease {
 public:
  explicit Lease(Formula& formula) : Owner(formula), Taken(formula.Take()) { Taken->Restart(); }
  ~Lease() { Owner.Give(std::move(Taken)); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Evaluator& operator*() const { return *Taken; }
  Evaluator* operator->() const { return Taken.get(); }

 private:
  Formula& Owner;
  std::unique_ptr<Evaluator> Taken;
};

Formula::Formula(const py::handle text, const py::handle variables, const py::handle functions,
                 const py::handle constants, const py::handle units, const py::handle seed,
                 const py::handle math, const py::handle threads) {
  Definition.Text = FormulaText(text, "text");
  Definition.Variables = ReadVariables(variables);
  for (const auto& [name, value] : ReadMapping(constants, "constants")) {
    const double number = PyFloat_AsDouble(value.ptr());  // TypeError for what is no number
    if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    Definition.Constants.emplace_back(NameOf(name, "constants"), number);
  }
  GivenFunctions = ReadMapping(functions, "functions");
  for (const auto& [key, callable] : GivenFunctions) {
    const std::string name = NameOf(key, "functions");
    if (!PyCallable_Check(callable.ptr())) throw py::type_error("function '" + name + "' is not callable");
    Definition.FunctionNames.push_back(name);
    Functions.push_back(std::make_unique<PythonFunction>(py::reinterpret_borrow<py::object>(callable)));
  }
  if (!units.is_none()) Definition.Units = ReadUnitSystem(units);
  Definition.Seed = ReadSeed(seed);
  Definition.Math = ReadMathLibrary(math);
  OwnThreads = ReadThreads(threads);
  const auto textValue = py::reinterpret_borrow<py::object>(text);
  RefuseNamesGivenTwice(Definition, textValue);
  try {
    Pool.push_back(std::make_unique<Evaluator>(Definition, Functions));
  } catch (const MathUtils::ParserException& error) {
    RaiseFormulaError(error, Definition.Text);
  }
  RefuseVariablesTheVocabularyHides(Pool.back()->GetParser(), Definition, textValue);
  PythonCalled = Pool.back()->CallsPython();
}

std::unique_ptr<Evaluator> Formula::Take() {
  {
    const std::lock_guard<std::mutex> lock(PoolLock);
    if (!Pool.empty()) {
      std::unique_ptr<Evaluator> evaluator = std::move(Pool.back());
      Pool.pop_back();
      return evaluator;
    }
  }
  // Compiled once already: it cannot fail now.
  return std::make_unique<Evaluator>(Definition, Functions);
}

void Formula::Give(std::unique_ptr<Evaluator> evaluator) {
  const std::lock_guard<std::mutex> lock(PoolLock);
  Pool.push_back(std::move(evaluator));
}

py::object Formula::Call(const py::args& positional, const py::kwargs& keywords) {
  const CallArguments arguments = ReadCallArguments(Definition.Variables, positional, keywords);
  const Lease evaluator(*this);
  if (arguments.AnyArray || !arguments.Out.is_none())
    return EvaluateOverArrays(*evaluator, Definition.Variables, arguments, OwnThreads);
  for (std::size_t i = 0; i < arguments.Values.size(); ++i) evaluator->Cell(i) = *arguments.Values[i].Number;
  try {
    return py::float_(evaluator->GetParser().Evaluate());
  } catch (const MathUtils::ParserException& error) {
    RaiseFormulaError(error, Definition.Text);
  }
}

py::tuple Formula::Arguments() const {
  py::dict constants;
  for (const auto& [name, value] : Definition.Constants) constants[py::str(name)] = value;
  return py::make_tuple(py::str(Definition.Text), py::tuple(py::cast(Definition.Variables)), GivenFunctions,
                        constants, py::cast(Definition.Units), py::cast(Definition.Seed),
                        MathLibraryName(Definition.Math), py::cast(OwnThreads));
}

py::tuple Formula::Token() const {
  // The functions as Dask tells callables apart; everything else as it is.
  const py::object normalize = py::module_::import("dask.base").attr("normalize_token");
  py::list functions;
  for (const auto& [name, callable] : GivenFunctions)
    functions.append(py::make_tuple(name, normalize(callable)));
  py::list constants;
  for (const auto& [name, value] : Definition.Constants)
    constants.append(py::make_tuple(name, py::float_(value).attr("hex")()));
  return py::make_tuple("vorncalc.Formula", VORNCALC_VERSION, Definition.Text,
                        py::tuple(py::cast(Definition.Variables)), py::tuple(constants), py::tuple(functions),
                        py::cast(Definition.Units), py::cast(Definition.Seed),
                        MathLibraryName(Definition.Math));
}

}  // namespace PythonModule
