// The arguments of a call of a Formula, one per variable, positionally in
// the order of its variables or by keyword, and the array for the results
// (out=): each a number, held at every point, or an array, never
// converted here.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace PythonModule {

struct CallArgument {
  std::optional<double> Number;  // a number, a NumPy scalar or an array of no dimensions
  pybind11::object Array;        // else a numpy.ndarray of booleans, integers or floats
};

struct CallArguments {
  std::vector<CallArgument> Values;  // in the order of the formula's variables
  pybind11::object Out;              // None, or the numpy.ndarray given as out=
  bool AnyArray = false;
};

// Reads the arguments for the variables' names. Too many positional
// arguments, an unknown, repeated or missing variable, and a value that is
// neither a number nor an array of numbers raise TypeError. out= is the
// array for the results unless a variable is named out.
CallArguments ReadCallArguments(std::span<const std::string> names, const pybind11::args& positional,
                                const pybind11::kwargs& keywords);

}  // namespace PythonModule
