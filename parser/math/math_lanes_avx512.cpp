// The deterministic library's eight-lane forms (parser/math/math_library.h),
// compiled for AVX-512F, which sleef.h requires to declare them; called
// only where the processor has AVX-512F.
#include <immintrin.h>
#include <sleef.h>

#include "parser/math/float_mode.h"
#include "parser/math/math_library.h"

namespace MathUtils::detail {

namespace {

// As Deterministic::Raise, lane by lane: pow in the library's own mode,
// the square in the caller's, as a square is everywhere.
__m512d RaiseEight(__m512d base, __m512d exponent) {
  const __m512d power = InNearestMode<Sleef_cinz_powd8_u10avx512fnofma>::Call(base, exponent);
  const __mmask8 square = _mm512_cmp_pd_mask(exponent, _mm512_set1_pd(2), _CMP_EQ_OQ);
  const __mmask8 first = _mm512_cmp_pd_mask(exponent, _mm512_set1_pd(1), _CMP_EQ_OQ);
  return _mm512_mask_blend_pd(first, _mm512_mask_blend_pd(square, power, _mm512_mul_pd(base, base)), base);
}

}  // namespace

// The rows without 8 among their widths have none here (log and log10:
// for negative and NaN arguments they give NaNs of other signs and
// payloads than the narrower forms).
const void* EightLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
#define MATHUTILS_EIGHT_LANES(name, arity, c, sleef, accuracy, widths)                         \
  case VectorFunction::name:                                                                   \
    return HasWidth(widths, 8)                                                                 \
               ? address(InNearestMode<Sleef_cinz_##sleef##d8_##accuracy##avx512fnofma>::Call) \
               : nullptr;
      MATHUTILS_MATH_FUNCTIONS(MATHUTILS_EIGHT_LANES)
#undef MATHUTILS_EIGHT_LANES
    case VectorFunction::Raise: return address(RaiseEight);
  }
  return nullptr;
}

}  // namespace MathUtils::detail
