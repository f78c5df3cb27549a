#include "parser/math/math_library.h"

#include "parser/core/commands.h"

#if VORNCALC_SLEEF
#include <immintrin.h>
#include <sleef.h>

#include "parser/math/float_mode.h"
#endif

namespace MathUtils::detail {

#if !VORNCALC_SLEEF

bool DeterministicMathAvailable() { return false; }

PowFunction PowerFunctionOf(MathLibrary) { return LibraryPower; }

// What the code generators name, though nothing can call it: the library
// cannot be chosen.
namespace Deterministic {
double Pow(double base, double exponent) { return LibraryPower(base, exponent); }
double Raise(double base, double exponent) { return Power(base, exponent); }
}  // namespace Deterministic

const void* VectorForm(VectorFunction, int) { return nullptr; }

#else

bool DeterministicMathAvailable() { return true; }

PowFunction PowerFunctionOf(MathLibrary library) {
  return library == MathLibrary::Deterministic ? Deterministic::Pow : LibraryPower;
}

namespace Deterministic {

// Lane 0 of the two-lane form: the bits of every lane of every width that
// the row lists. SLEEF's scalar ("purec") forms give the same bits, more
// slowly. In the library's own floating-point mode, as every form of it.
#define MATHUTILS_MATH_ARGUMENTS_1 _mm_set1_pd(x)
#define MATHUTILS_MATH_ARGUMENTS_2 _mm_set1_pd(x), _mm_set1_pd(y)
#define MATHUTILS_MATH_SCALAR(name, arity, c, sleef, accuracy, widths)                               \
  double name MATHUTILS_MATH_PARAMETERS_##arity {                                                    \
    const NearestMode mode;                                                                          \
    return _mm_cvtsd_f64(Sleef_cinz_##sleef##d2_##accuracy##sse2(MATHUTILS_MATH_ARGUMENTS_##arity)); \
  }
MATHUTILS_MATH_FUNCTIONS(MATHUTILS_MATH_SCALAR)
#undef MATHUTILS_MATH_SCALAR
#undef MATHUTILS_MATH_ARGUMENTS_1
#undef MATHUTILS_MATH_ARGUMENTS_2

double Raise(double base, double exponent) {
  if (exponent == 2) return base * base;
  if (exponent == 1) return base;
  return Pow(base, exponent);
}

}  // namespace Deterministic

namespace {

// As Deterministic::Raise, in lanes: pow everywhere, then the product (in
// the caller's mode, as a square is everywhere) and the base put in where
// the exponent is 2 or 1.
__m128d RaiseTwo(__m128d base, __m128d exponent) {
  const __m128d power = InNearestMode<Sleef_cinz_powd2_u10sse2>::Call(base, exponent);
  const __m128d square = _mm_cmpeq_pd(exponent, _mm_set1_pd(2));
  const __m128d first = _mm_cmpeq_pd(exponent, _mm_set1_pd(1));
  const __m128d special = _mm_or_pd(_mm_and_pd(square, _mm_mul_pd(base, base)), _mm_and_pd(first, base));
  return _mm_or_pd(_mm_andnot_pd(_mm_or_pd(square, first), power), special);
}

const void* TwoLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
#define MATHUTILS_TWO_LANES(name, arity, c, sleef, accuracy, widths)                                   \
  case VectorFunction::name:                                                                           \
    return HasWidth(widths, 2) ? address(InNearestMode<Sleef_cinz_##sleef##d2_##accuracy##sse2>::Call) \
                               : nullptr;
      MATHUTILS_MATH_FUNCTIONS(MATHUTILS_TWO_LANES)
#undef MATHUTILS_TWO_LANES
    case VectorFunction::Raise: return address(RaiseTwo);
  }
  return nullptr;
}

}  // namespace

// The wider forms, in sources compiled for their instruction sets (which
// sleef.h requires to declare them).
const void* FourLanes(VectorFunction function);
const void* EightLanes(VectorFunction function);

const void* VectorForm(VectorFunction function, int lanes) {
  switch (lanes) {
    case 2: return TwoLanes(function);
    case 4: return FourLanes(function);
    case 8: return EightLanes(function);
    default: return nullptr;
  }
}

#endif

}  // namespace MathUtils::detail
