// The deterministic math library that a parser may choose instead of the C
// library (see MathLibrary in parser/types.h): SLEEF's functions of the
// "cinz" family, which use no fused multiply-add, so that their results do
// not depend on whether the processor has one. Every tier calls the same
// function: the scalar form is lane 0 of the two-lane SSE2 form, and code
// in lanes calls the vector form of its width, which gives the same bits
// lane by lane (checked for every function below, NaN payloads included).
//
//   function  scalar  2 lanes (SSE2)  4 lanes (AVX)  8 lanes (AVX-512F)
//   sin cos tan asin acos atan sinh cosh tanh exp pow
//             yes     yes             yes            yes
//   log log10 yes     yes             yes            none: its NaNs differ
//                                                    in sign and payload
//
// Where a width has no vector form, code in lanes calls the scalar form
// once per lane. Without the library (the Windows builds), no function has
// a vector form and the library cannot be chosen.
#pragma once

#include <cstdint>

#include "parser/types.h"

namespace MathUtils::detail {

// The functions that have vector forms, for VectorForm below.
// clang-format off
enum class VectorFunction : std::uint8_t {
  None, Sin, Cos, Tan, ASin, ACos, ATan, SinH, CosH, TanH, Exp, Log, Log10, Pow, Raise
};
// clang-format on

// The function's vector form of 2, 4 or 8 lanes (SSE2, AVX, AVX-512F), or
// null where it has none. It takes the argument(s) in the first vector
// register(s) of the width and returns in the first (the System V vector
// convention), and clobbers every vector register.
const void* VectorForm(VectorFunction function, int lanes);

// Whether this build has the library (it is optional).
bool DeterministicMathAvailable();

// The library's scalar functions, where the build has it (VORNCALC_SLEEF).
namespace Deterministic {
double Sin(double x);
double Cos(double x);
double Tan(double x);
double ASin(double x);
double ACos(double x);
double ATan(double x);
double SinH(double x);
double CosH(double x);
double TanH(double x);
double Exp(double x);
double Log(double x);
double Log10(double x);
// pow(base, exponent), for a number exponent other than 1 and 2.
double Pow(double base, double exponent);
// "^": a square is the product, the first power the base (as Power() in
// parser/commands.h), else pow; lane by lane in the vector forms.
double Raise(double base, double exponent);
}  // namespace Deterministic

// What "^" calls beyond squares and first powers in the library.
PowFunction PowerFunctionOf(MathLibrary library);

}  // namespace MathUtils::detail
