#include "python/call_arguments.h"

#include <Python.h>

#include <algorithm>
#include <optional>
#include <string_view>

namespace py = pybind11;

namespace PythonModule {

namespace {

using Float64Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A Python number as a double: None for anything else.
std::optional<double> PlainNumber(const py::handle value) {
  if (PyFloat_CheckExact(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
  if (!PyLong_Check(value.ptr())) return std::nullopt;
  const double number = PyLong_AsDouble(value.ptr());  // OverflowError beyond the doubles
  if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return number;
}

std::string ShapeText(const std::vector<py::ssize_t>& shape) {
  std::string text = "(";
  for (const py::ssize_t extent : shape) text += std::to_string(extent) + ", ";
  if (shape.size() > 1)
    text.resize(text.size() - 2);
  else if (shape.size() == 1)
    text.pop_back();
  return text + ")";
}

std::size_t IndexOf(std::span<const std::string> names, const std::string& name) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) {
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
    throw py::type_error("unknown variable '" + name +
                         "'; the formula's variables are: " + (known.empty() ? "none" : known));
  }
  return static_cast<std::size_t>(found - names.begin());
}

// The value given for a variable: a number, or an array of float64.
struct Given {
  std::optional<double> Number;
  std::optional<Float64Array> Array;  // none for a number: no empty array made
  bool Present = false;
};

Given ReadValue(const std::string& name, const py::handle value) {
  Given given;
  given.Present = true;
  given.Number = PlainNumber(value);
  if (given.Number) return given;
  // Numbers only: NumPy would also read a string, and None as NaN.
  const py::array array = py::array::ensure(value);
  if (!array || std::string_view("biuf").find(array.dtype().kind()) == std::string_view::npos)
    throw py::type_error("variable '" + name + "' takes a number or an array of numbers, not " +
                         (array ? "an array of " + std::string(py::str(array.dtype())) + " values"
                                : std::string(py::str(py::type::handle_of(value).attr("__name__")))));
  given.Array = Float64Array::ensure(array);
  if (!*given.Array) throw py::error_already_set();
  if (given.Array->ndim() == 0) given.Number = *given.Array->data();
  return given;
}

void CheckShape(CallArguments& arguments, const std::string& name, const Float64Array& array,
                std::string& firstName) {
  const std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
  if (!arguments.AnyArray) {
    arguments.AnyArray = true;
    arguments.Shape = shape;
    arguments.Points = static_cast<std::size_t>(array.size());
    firstName = name;
  } else if (shape != arguments.Shape) {
    throw py::value_error("the arrays differ in shape: '" + firstName + "' is " + ShapeText(arguments.Shape) +
                          ", '" + name + "' is " + ShapeText(shape));
  }
}

}  // namespace

CallArguments ReadCallArguments(std::span<const std::string> names, const py::args& positional,
                                const py::kwargs& keywords) {
  if (!positional.empty())
    throw py::type_error("a Formula takes its variables as keyword arguments, such as f(x=1.5)");
  std::vector<Given> given(names.size());
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    given[IndexOf(names, name)] = ReadValue(name, value);
  }
  CallArguments arguments;
  std::string firstName;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!given[i].Present) throw py::type_error("missing variable '" + names[i] + "'");
    if (!given[i].Number) CheckShape(arguments, names[i], *given[i].Array, firstName);
  }
  arguments.HeldNumbers.reserve(names.size());
  for (Given& g : given) {
    if (g.Number) {
      arguments.HeldNumbers.emplace_back(arguments.AnyArray ? arguments.Points : 1, *g.Number);
      arguments.Values.emplace_back(arguments.HeldNumbers.back());
    } else {
      arguments.Values.emplace_back(g.Array->data(), static_cast<std::size_t>(g.Array->size()));
      arguments.HeldArrays.push_back(std::move(*g.Array));
    }
  }
  return arguments;
}

}  // namespace PythonModule
