// The functions of the math libraries that a parser may choose between (see
// MathLibrary in parser/types.h): the C library, and a deterministic one,
// SLEEF's functions of the "cinz" family, which use no fused multiply-add,
// so that their results do not depend on whether the processor has one.
//
// One row per function; everything else about them expands the rows: the
// VectorFunction codes, the deterministic scalar forms, the libraries'
// structs of parser/builtins.cpp and the switches of vector forms by width.
//
//   name    the function's name in code
//   arity   1 or 2 (x, or x and y)
//   c       the C library's form, an expression of x (and y)
//   sleef   SLEEF's name and accuracy suffix: Sleef_cinz_<sleef>d<lanes>_<accuracy><isa>
//   widths  the lane widths (2, 4, 8 as bits) whose vector form gives the
//           scalar form's bits, lane by lane, NaN payloads included
//
// hypot takes SLEEF's 3.5-ulp form: its 0.5-ulp form is about as slow as the
// C library's, and ten times slower than this one in lanes.
//
// The deterministic scalar form is lane 0 of the two-lane SSE2 form, so 2 is
// always among the widths. Where a width is missing, code in lanes calls the
// scalar form once per lane. Without the library (the Windows builds), no
// function has a vector form and the library cannot be chosen.
#pragma once

#include <cstdint>

#include "parser/types.h"

// clang-format off
//       name   arity  c                    sleef  accuracy  widths
#define MATHUTILS_MATH_FUNCTIONS(ROW)                                \
  ROW(Sin,   1, std::sin(x),          sin,   u10, 2 | 4 | 8)         \
  ROW(Cos,   1, std::cos(x),          cos,   u10, 2 | 4 | 8)         \
  ROW(Tan,   1, std::tan(x),          tan,   u10, 2 | 4 | 8)         \
  ROW(ASin,  1, std::asin(x),         asin,  u10, 2 | 4 | 8)         \
  ROW(ACos,  1, std::acos(x),         acos,  u10, 2 | 4 | 8)         \
  ROW(ATan,  1, std::atan2(x, 1.0),   atan,  u10, 2 | 4 | 8)         \
  ROW(SinH,  1, std::sinh(x),         sinh,  u10, 2 | 4 | 8)         \
  ROW(CosH,  1, std::cosh(x),         cosh,  u10, 2 | 4 | 8)         \
  ROW(TanH,  1, std::tanh(x),         tanh,  u10, 2 | 4 | 8)         \
  ROW(Exp,   1, std::exp(x),          exp,   u10, 2 | 4 | 8)         \
  ROW(Log,   1, std::log(x),          log,   u10, 2 | 4)             \
  ROW(Log10, 1, std::log10(x),        log10, u10, 2 | 4)             \
  ROW(Cbrt,  1, std::cbrt(x),         cbrt,  u10, 2)                 \
  ROW(Log1p, 1, std::log1p(x),        log1p, u10, 2 | 4 | 8)         \
  ROW(Expm1, 1, std::expm1(x),        expm1, u10, 2 | 4 | 8)         \
  ROW(Floor, 1, std::floor(x),        floor,    , 2 | 4 | 8)         \
  ROW(Ceil,  1, std::ceil(x),         ceil,     , 2 | 4 | 8)         \
  ROW(Trunc, 1, std::trunc(x),        trunc,    , 2 | 4 | 8)         \
  ROW(Round, 1, std::round(x),        round,    , 2 | 4 | 8)         \
  ROW(Pow,   2, std::pow(x, y),       pow,   u10, 2 | 4 | 8)         \
  ROW(ATan2, 2, std::atan2(x, y),     atan2, u10, 2 | 4 | 8)         \
  ROW(Hypot, 2, std::hypot(x, y),     hypot, u35, 2 | 4 | 8)         \
  ROW(FMod,  2, std::fmod(x, y),      fmod,     , 2 | 4)
// clang-format on

// A row's parameters by its arity.
#define MATHUTILS_MATH_PARAMETERS_1 (double x)
#define MATHUTILS_MATH_PARAMETERS_2 (double x, double y)

namespace MathUtils::detail {

// The functions that may have vector forms, for VectorForm below: one per
// row, and Raise, "^" itself (as Deterministic::Raise).
enum class VectorFunction : std::uint8_t {
  None,
#define MATHUTILS_MATH_CODE(name, ...) name,
  MATHUTILS_MATH_FUNCTIONS(MATHUTILS_MATH_CODE)
#undef MATHUTILS_MATH_CODE
      Raise
};

// Whether a row's widths hold the lane count.
constexpr bool HasWidth(int widths, int lanes) { return (widths & lanes) != 0; }

// The function's vector form of 2, 4 or 8 lanes (SSE2, AVX, AVX-512F), or
// null where it has none that gives the scalar form's bits. It takes the
// argument(s) in the first vector register(s) of the width and returns in
// the first (the System V vector convention), and clobbers every vector
// register.
const void* VectorForm(VectorFunction function, int lanes);

// Whether this build has the library (it is optional).
bool DeterministicMathAvailable();

// The library's scalar functions, where the build has it (VORNCALC_SLEEF);
// elsewhere only Pow and Raise, which the code generators name.
namespace Deterministic {
#define MATHUTILS_MATH_DECLARATION(name, arity, ...) double name MATHUTILS_MATH_PARAMETERS_##arity;
MATHUTILS_MATH_FUNCTIONS(MATHUTILS_MATH_DECLARATION)
#undef MATHUTILS_MATH_DECLARATION
// "^": a square is the product, the first power the base (as Power() in
// parser/commands.h), else pow; lane by lane in the vector forms.
double Raise(double base, double exponent);
}  // namespace Deterministic

// What "^" calls beyond squares and first powers in the library.
PowFunction PowerFunctionOf(MathLibrary library);

}  // namespace MathUtils::detail
