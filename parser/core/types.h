// The plain types of the parser's public operations.
#pragma once

#include <cstdint>
#include <span>

namespace MathUtils {

// One cell of the compiled formula (layout in parser/core/cells.h).
using Cell = std::int32_t;

// The callback forms of functions and operators. A ListCallback sees the
// arguments of one call, first argument first, as a view of the
// evaluation's slots: no copy is made.
using UnaryCallback = double (*)(double);
using ListCallback = double (*)(std::span<const double>);
// The same forms with state: the context given with the definition comes
// first, unchanged, in every call.
using UnaryContextCallback = double (*)(void* context, double);
using ListContextCallback = double (*)(void* context, std::span<const double>);

// One variable's values in an evaluation over arrays: Variable is the
// address the variable was defined with, Values holds one value per point.
struct VariableArray {
  const double* Variable;
  const double* Values;
};

// The token reader's syntax flags, a set of bits (parser/front/syntax_flags.h).
using SyntaxFlags = std::uint32_t;

// The math library that a parser's built-in functions and "^" call:
//   C              the C library (the default)
//   Deterministic  SLEEF's functions without fused multiply-add: the same
//                  bits on every tier, lane width and x86-64 processor;
//                  available where the build has SLEEF
enum class MathLibrary : std::uint8_t { C, Deterministic };

namespace detail {

// What "^" calls for an exponent other than 2 and 1.
using PowFunction = double (*)(double, double);

class Engine;
// What Evaluate calls: an interpreter of the current tier, or the machine
// code itself, which ignores its argument.
using EvalRoutine = double (*)(Engine&);

}  // namespace detail

}  // namespace MathUtils
