// The default vocabulary as data: one row per built-in function.
#pragma once

#include <span>
#include <string_view>

#include "parser/cells.h"

namespace MathUtils::detail {

template <typename Callback>
struct BuiltinFunction {
  std::string_view Name;
  Callback Function;
  bool Optimizable;
};

// In the order of definition: the functions of one argument, then those
// of any number of arguments.
std::span<const BuiltinFunction<UnaryCallback>> BuiltinUnaryFunctions();
std::span<const BuiltinFunction<ListCallback>> BuiltinListFunctions();

// What generated machine code may put in place of a call of a callback:
//   Callback  a callback of the user's, which may throw
//   Builtin   a built-in function or operator; throws only when a list
//             function gets no arguments
//   Sqrt, Abs, Negate  computed inline: the same correctly rounded square
//             root, the sign cleared, the sign flipped
//   Library   a built-in that is one C library function of one argument,
//             perhaps scaled before or after: see LibraryCallOf
//   Sum, Avg, Min, Max  computed inline, with the same additions and
//             comparisons in the same order (given at least one argument)
enum class CallForm : unsigned char { Callback, Builtin, Library, Sqrt, Abs, Negate, Sum, Avg, Min, Max };
CallForm CallFormOf(const void* callback);

// A built-in as the C library function it calls: Function(x * Before) *
// After, where a scale of 0 stands for no multiplication.
struct LibraryCall {
  double (*Function)(double);
  double Before;
  double After;
};
// The form of a callback whose CallFormOf is Library.
LibraryCall LibraryCallOf(const void* callback);

}  // namespace MathUtils::detail
