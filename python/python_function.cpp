#include "python/python_function.h"

#include <Python.h>

#include <utility>

namespace py = pybind11;

namespace PythonModule {

namespace {

// Whether the callable takes exactly one positional argument, as
// inspect.signature reads it; a callable without a readable signature
// takes a list.
bool TakesOnePositional(const py::object& callable) {
  const py::module_ inspect = py::module_::import("inspect");
  py::object signature;
  try {
    signature = inspect.attr("signature")(callable);
  } catch (const py::error_already_set&) {
    return false;
  }
  const py::object parameter = inspect.attr("Parameter");
  int positional = 0;
  for (const py::handle p : signature.attr("parameters").attr("values")()) {
    const py::object kind = p.attr("kind");
    if (kind.is(parameter.attr("VAR_POSITIONAL"))) return false;
    const bool byPosition =
        kind.is(parameter.attr("POSITIONAL_ONLY")) || kind.is(parameter.attr("POSITIONAL_OR_KEYWORD"));
    if (byPosition)
      ++positional;
    else if (p.attr("default").is(parameter.attr("empty")) && !kind.is(parameter.attr("VAR_KEYWORD")))
      return false;  // a keyword-only argument without default: no call by position works
  }
  return positional == 1;
}

}  // namespace

PythonFunction::PythonFunction(py::object callable)
    : Callable(std::move(callable)), TakesOneArgument(TakesOnePositional(Callable)) {}

void PythonFunction::Define(MathUtils::ParserBase& parser, std::string_view name) {
  if (TakesOneArgument)
    parser.AddFunction(name, &PythonFunction::CallUnary, this, false);
  else
    parser.AddFunction(name, &PythonFunction::CallList, this, false);
}

double PythonFunction::CallUnary(void* context, double argument) {
  return static_cast<PythonFunction*>(context)->Call(std::span<const double>(&argument, 1));
}

double PythonFunction::CallList(void* context, std::span<const double> arguments) {
  return static_cast<PythonFunction*>(context)->Call(arguments);
}

double PythonFunction::Call(std::span<const double> arguments) {
  if (Muted) {
    Used = true;
    return 0;
  }
  py::tuple pythonArguments(arguments.size());
  for (std::size_t i = 0; i < arguments.size(); ++i) pythonArguments[i] = py::float_(arguments[i]);
  const auto result =
      py::reinterpret_steal<py::object>(PyObject_Call(Callable.ptr(), pythonArguments.ptr(), nullptr));
  if (!result) throw py::error_already_set();
  const double value = PyFloat_AsDouble(result.ptr());
  // -1 is also a value; only a pending error tells a failed conversion.
  if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return value;
}

}  // namespace PythonModule
