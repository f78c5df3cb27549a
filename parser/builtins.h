// The default vocabulary as data: one row per built-in function.
#pragma once

#include <span>
#include <string_view>

#include "parser/parser_base.h"

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
enum class CallForm : unsigned char { Callback, Builtin, Sqrt, Abs, Negate };
CallForm CallFormOf(const void* callback);

}  // namespace MathUtils::detail
