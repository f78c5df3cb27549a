#include "python/call_arguments.h"

#include <Python.h>
#include <pybind11/numpy.h>

#include <algorithm>
#include <string_view>

namespace py = pybind11;

namespace PythonModule {

namespace {

std::string TypeName(const py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

// A Python number as a double: None for anything else.
std::optional<double> PlainNumber(const py::handle value) {
  if (PyFloat_CheckExact(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
  if (!PyLong_Check(value.ptr())) return std::nullopt;
  const double number = PyLong_AsDouble(value.ptr());  // OverflowError beyond the doubles
  if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return number;
}

std::string NamesText(std::span<const std::string> names) {
  std::string known;
  for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
  return known.empty() ? "none" : known;
}

std::size_t IndexOf(std::span<const std::string> names, const std::string& name) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end())
    throw py::type_error("unknown variable '" + name + "'; the formula's variables are: " + NamesText(names));
  return static_cast<std::size_t>(found - names.begin());
}

CallArgument ReadValue(const std::string& name, const py::handle value) {
  if (const std::optional<double> number = PlainNumber(value)) return {number, py::none()};
  // Numbers only: NumPy would also read a string, and None as NaN.
  const py::array array = py::array::ensure(value);
  if (!array || std::string_view("biuf").find(array.dtype().kind()) == std::string_view::npos) {
    PyErr_Clear();
    throw py::type_error(
        "variable '" + name + "' takes a number or an array of numbers, not " +
        (array ? "an array of " + std::string(py::str(array.dtype())) + " values" : TypeName(value)));
  }
  if (array.ndim() > 0) return {std::nullopt, array};
  const auto number = py::array_t<double, py::array::forcecast>::ensure(array);
  if (!number) throw py::error_already_set();
  return {*number.data(), py::none()};
}

// The labels of a pandas Series or DataFrame (its axes), else None.
py::object PandasAxes(const py::handle value) {
  if (PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr()) || py::isinstance<py::array>(value))
    return py::none();
  const py::str module = py::type::handle_of(value).attr("__module__");
  if (!std::string_view(PyUnicode_AsUTF8(module.ptr())).starts_with("pandas.") || !py::hasattr(value, "axes"))
    return py::none();
  return value.attr("axes");
}

bool SameLabels(const py::handle axes, const py::handle others) {
  if (py::len(axes) != py::len(others)) return false;
  for (std::size_t i = 0; i < py::len(axes); ++i)
    if (!py::cast<bool>(py::reinterpret_borrow<py::list>(axes)[i].attr("equals")(
            py::reinterpret_borrow<py::list>(others)[i])))
      return false;
  return true;
}

// pandas aligns its objects by label before it computes; a call combines
// arrays by position, as numexpr does. Where the labels differ the two
// would disagree without a word ([31, 22, 13] where pandas gives [11, 22,
// 33]), so such objects are refused.
class PandasLabels {
 public:
  void Check(const std::string& name, const py::handle value) {
    py::object axes = PandasAxes(value);
    if (axes.is_none()) return;
    if (FirstAxes.is_none()) {
      FirstName = name;
      FirstAxes = std::move(axes);
    } else if (!SameLabels(FirstAxes, axes)) {
      throw py::value_error("the pandas objects '" + FirstName + "' and '" + name +
                            "' have different labels, which pandas would align and a call would "
                            "combine by position: align them first (a, b = a.align(b)) or pass .to_numpy()");
    }
  }

 private:
  std::string FirstName;
  py::object FirstAxes = py::none();
};

py::object ReadOut(const py::handle out) {
  if (out.is_none()) return py::none();
  if (!py::isinstance<py::array>(out))
    throw py::type_error("out takes a numpy.ndarray for the results, not " + TypeName(out));
  return py::reinterpret_borrow<py::object>(out);
}

}  // namespace

CallArguments ReadCallArguments(std::span<const std::string> names, const py::args& positional,
                                const py::kwargs& keywords) {
  if (positional.size() > names.size())
    throw py::type_error("the formula takes " + std::to_string(names.size()) + " variable" +
                         (names.size() == 1 ? "" : "s") + " (" + NamesText(names) + "), but " +
                         std::to_string(positional.size()) + " values were given");
  std::vector<bool> given(names.size());
  CallArguments arguments;
  arguments.Values.resize(names.size());
  arguments.Out = py::none();
  for (std::size_t i = 0; i < positional.size(); ++i) {
    arguments.Values[i] = ReadValue(names[i], positional[i]);
    given[i] = true;
  }
  PandasLabels labels;
  for (std::size_t i = 0; i < positional.size(); ++i) labels.Check(names[i], positional[i]);
  const bool outIsVariable = std::find(names.begin(), names.end(), "out") != names.end();
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    if (name == "out" && !outIsVariable) {
      arguments.Out = ReadOut(value);
      continue;
    }
    const std::size_t index = IndexOf(names, name);
    if (given[index]) throw py::type_error("variable '" + name + "' is given twice");
    arguments.Values[index] = ReadValue(name, value);
    labels.Check(name, value);
    given[index] = true;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!given[i]) throw py::type_error("missing variable '" + names[i] + "'");
    arguments.AnyArray = arguments.AnyArray || !arguments.Values[i].Number;
  }
  return arguments;
}

}  // namespace PythonModule
