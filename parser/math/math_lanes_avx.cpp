// The deterministic library's four-lane forms (parser/math/math_library.h),
// compiled for AVX, which sleef.h requires to declare them; called only
// where the processor has AVX.
#include <immintrin.h>
#include <sleef.h>

#include "parser/math/float_mode.h"
#include "parser/math/math_library.h"

namespace MathUtils::detail {

namespace {

// As Deterministic::Raise, lane by lane: pow in the library's own mode,
// the square in the caller's, as a square is everywhere.
__m256d RaiseFour(__m256d base, __m256d exponent) {
  const __m256d power = InNearestMode<Sleef_cinz_powd4_u10avx>::Call(base, exponent);
  const __m256d square = _mm256_cmp_pd(exponent, _mm256_set1_pd(2), _CMP_EQ_OQ);
  const __m256d first = _mm256_cmp_pd(exponent, _mm256_set1_pd(1), _CMP_EQ_OQ);
  return _mm256_blendv_pd(_mm256_blendv_pd(power, _mm256_mul_pd(base, base), square), base, first);
}

}  // namespace

const void* FourLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
#define MATHUTILS_FOUR_LANES(name, arity, c, sleef, accuracy, widths)                                 \
  case VectorFunction::name:                                                                          \
    return HasWidth(widths, 4) ? address(InNearestMode<Sleef_cinz_##sleef##d4_##accuracy##avx>::Call) \
                               : nullptr;
      MATHUTILS_MATH_FUNCTIONS(MATHUTILS_FOUR_LANES)
#undef MATHUTILS_FOUR_LANES
    case VectorFunction::Raise: return address(RaiseFour);
  }
  return nullptr;
}

}  // namespace MathUtils::detail
