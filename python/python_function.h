// A Python callable defined as a function of a parser. The parser calls it
// through a context pointer to this object; the Formula that defines it
// keeps it, and with it the callable, alive as long as the parser.
#pragma once

#include <pybind11/pybind11.h>

#include <span>
#include <string_view>

#include "parser/parser.h"

namespace PythonModule {

class PythonFunction {
 public:
  explicit PythonFunction(pybind11::object callable);
  PythonFunction(const PythonFunction&) = delete;
  PythonFunction& operator=(const PythonFunction&) = delete;

  // Defines the callable under the name: as a function of one argument
  // when it takes exactly one positional argument, else as a function of
  // any number of arguments, never folded (a Python function may be
  // impure).
  void Define(MathUtils::ParserBase& parser, std::string_view name);

  // While muted, a call computes nothing and returns 0 without touching
  // Python: the compilation of a formula evaluates it once, which must not
  // run the user's functions on made-up values. Returns whether it was
  // called since it was last muted, that is by the formula compiled.
  bool Mute(bool muted) {
    const bool called = Used;
    Muted = muted;
    Used = false;
    return called;
  }

 private:
  static double CallUnary(void* context, double argument);
  static double CallList(void* context, std::span<const double> arguments);
  // Called with the GIL held: the formula of a Python function never
  // releases it.
  double Call(std::span<const double> arguments);

  pybind11::object Callable;
  bool TakesOneArgument;
  bool Muted = false;
  bool Used = false;
};

}  // namespace PythonModule
