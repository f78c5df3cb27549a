// The default vocabulary as data: one row per built-in function and
// operator, holding what the parser defines and what generated machine
// code may compute in place of calling it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "parser/cells.h"
#include "parser/math_library.h"
#include "parser/types.h"

namespace MathUtils::detail {

// What generated machine code does with a call of a callback:
//   Callback  calls it: a callback of the user's, which may throw
//   Builtin   calls it: a built-in, which throws only when a list function
//             gets no arguments
//   Library   calls the math library's function instead: Library(x * Before)
//             * After, or Pair(x, y) * After for a function of two
//             arguments, where a scale of 0 stands for no multiplication;
//             code in lanes calls its vector form of the width where Lanes
//             has one (the deterministic library's), else the scalar
//             function in each lane
//   Sqrt, Abs, Negate  computes it inline: the same correctly rounded square
//             root, the sign cleared, the sign flipped
//   Sum, Avg, Min, Max  computes it inline, with the same additions and
//             comparisons in the same order (given at least one argument)
//   Where     computes it inline: the condition where it is NaN, else the
//             second argument where it is not 0, else the third
enum class CallForm : unsigned char {
  Callback,
  Builtin,
  Library,
  Sqrt,
  Abs,
  Negate,
  Sum,
  Avg,
  Min,
  Max,
  Where
};

struct MachineForm {
  CallForm Form = CallForm::Callback;
  double (*Library)(double) = nullptr;
  double Before = 0;
  double After = 0;
  VectorFunction Lanes = VectorFunction::None;
  double (*Pair)(double, double) = nullptr;
};

template <typename Callback>
struct BuiltinFunction {
  std::string_view Name;
  Callback Function;
  bool Optimizable;
  MachineForm Machine;
};

// A function of a fixed number of arguments above one: a list callback that
// the compiler gives exactly ArgCount values.
struct BuiltinFixedFunction {
  std::string_view Name;
  ListCallback Function;
  std::int32_t ArgCount;
  bool Optimizable;
  MachineForm Machine;
};

struct BuiltinOperator {
  enum Kind : unsigned char { Postfix, Prefix };
  std::string_view Name;
  UnaryCallback Function;
  Kind Is;
  MachineForm Machine;
};

// In the order of definition: the functions of one argument, then those
// of any number of arguments, then the operators. The functions of one
// argument of either math library have the same names in the same order;
// only the callbacks of those that call the library differ.
std::span<const BuiltinFunction<UnaryCallback>> BuiltinUnaryFunctions(MathLibrary library = MathLibrary::C);
std::span<const BuiltinFunction<ListCallback>> BuiltinListFunctions();
std::span<const BuiltinOperator> BuiltinOperators();

// The math functions that the calculator and the Python module add to the
// default vocabulary (ParserBase::AddMathFunctions): those of one argument,
// then those of two and three. Either library has the same names in the
// same order, as above.
std::span<const BuiltinFunction<UnaryCallback>> MathUnaryFunctions(MathLibrary library = MathLibrary::C);
std::span<const BuiltinFixedFunction> MathFixedFunctions(MathLibrary library = MathLibrary::C);

// The machine form of a built-in's row; Callback for any other callback.
MachineForm MachineFormOf(const void* callback);

}  // namespace MathUtils::detail
