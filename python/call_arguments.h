// The keyword arguments of a call of a Formula, one per variable, read into
// the values of the points to evaluate: all numbers give one point; any
// array gives one point per element, every array of one shape and each
// number held at every point.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace PythonModule {

struct CallArguments {
  // Per variable, in the order of the formula's variables: the values at
  // every point, contiguous float64 (read from an array, converted once,
  // or a number repeated).
  std::vector<std::span<const double>> Values;
  // Whether any argument was an array, and then the shape of the result.
  bool AnyArray = false;
  std::vector<pybind11::ssize_t> Shape;
  std::size_t Points = 1;

  // What the spans view: the arrays converted and the numbers.
  std::vector<pybind11::array_t<double>> HeldArrays;
  std::vector<std::vector<double>> HeldNumbers;
};

// Reads the keyword arguments for the variables' names. Positional
// arguments, an unknown name and a missing one are a TypeError; a value
// that is neither a number nor convertible to an array of float64 a
// TypeError; arrays of different shapes a ValueError.
CallArguments ReadCallArguments(std::span<const std::string> names, const pybind11::args& positional,
                                const pybind11::kwargs& keywords);

}  // namespace PythonModule
