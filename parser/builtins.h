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

}  // namespace MathUtils::detail
