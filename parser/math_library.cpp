#include "parser/math_library.h"

#include "parser/commands.h"

#if VORNCALC_SLEEF
#include <immintrin.h>
#include <sleef.h>
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

// Lane 0 of the two-lane form: the bits of every lane of every width.
// SLEEF's scalar ("purec") forms give the same bits, more slowly.
#define MATHUTILS_SCALAR(function, name) \
  double function(double x) { return _mm_cvtsd_f64(Sleef_cinz_##name##d2_u10sse2(_mm_set1_pd(x))); }
MATHUTILS_SCALAR(Sin, sin)
MATHUTILS_SCALAR(Cos, cos)
MATHUTILS_SCALAR(Tan, tan)
MATHUTILS_SCALAR(ASin, asin)
MATHUTILS_SCALAR(ACos, acos)
MATHUTILS_SCALAR(ATan, atan)
MATHUTILS_SCALAR(SinH, sinh)
MATHUTILS_SCALAR(CosH, cosh)
MATHUTILS_SCALAR(TanH, tanh)
MATHUTILS_SCALAR(Exp, exp)
MATHUTILS_SCALAR(Log, log)
MATHUTILS_SCALAR(Log10, log10)
#undef MATHUTILS_SCALAR

double Pow(double base, double exponent) {
  return _mm_cvtsd_f64(Sleef_cinz_powd2_u10sse2(_mm_set1_pd(base), _mm_set1_pd(exponent)));
}

double Raise(double base, double exponent) {
  if (exponent == 2) return base * base;
  if (exponent == 1) return base;
  return Pow(base, exponent);
}

}  // namespace Deterministic

namespace {

// As Deterministic::Raise, in lanes: pow everywhere, then the product and
// the base put in where the exponent is 2 or 1.
__m128d RaiseTwo(__m128d base, __m128d exponent) {
  const __m128d power = Sleef_cinz_powd2_u10sse2(base, exponent);
  const __m128d square = _mm_cmpeq_pd(exponent, _mm_set1_pd(2));
  const __m128d first = _mm_cmpeq_pd(exponent, _mm_set1_pd(1));
  const __m128d special = _mm_or_pd(_mm_and_pd(square, _mm_mul_pd(base, base)), _mm_and_pd(first, base));
  return _mm_or_pd(_mm_andnot_pd(_mm_or_pd(square, first), power), special);
}

const void* TwoLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
    case VectorFunction::Sin: return address(Sleef_cinz_sind2_u10sse2);
    case VectorFunction::Cos: return address(Sleef_cinz_cosd2_u10sse2);
    case VectorFunction::Tan: return address(Sleef_cinz_tand2_u10sse2);
    case VectorFunction::ASin: return address(Sleef_cinz_asind2_u10sse2);
    case VectorFunction::ACos: return address(Sleef_cinz_acosd2_u10sse2);
    case VectorFunction::ATan: return address(Sleef_cinz_atand2_u10sse2);
    case VectorFunction::SinH: return address(Sleef_cinz_sinhd2_u10sse2);
    case VectorFunction::CosH: return address(Sleef_cinz_coshd2_u10sse2);
    case VectorFunction::TanH: return address(Sleef_cinz_tanhd2_u10sse2);
    case VectorFunction::Exp: return address(Sleef_cinz_expd2_u10sse2);
    case VectorFunction::Log: return address(Sleef_cinz_logd2_u10sse2);
    case VectorFunction::Log10: return address(Sleef_cinz_log10d2_u10sse2);
    case VectorFunction::Pow: return address(Sleef_cinz_powd2_u10sse2);
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
