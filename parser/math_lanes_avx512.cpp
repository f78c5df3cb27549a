// The deterministic library's eight-lane forms (parser/math_library.h),
// compiled for AVX-512F, which sleef.h requires to declare them; called
// only where the processor has AVX-512F.
#include <immintrin.h>
#include <sleef.h>

#include "parser/math_library.h"

namespace MathUtils::detail {

namespace {

// As Deterministic::Raise, lane by lane.
__m512d RaiseEight(__m512d base, __m512d exponent) {
  const __m512d power = Sleef_cinz_powd8_u10avx512fnofma(base, exponent);
  const __mmask8 square = _mm512_cmp_pd_mask(exponent, _mm512_set1_pd(2), _CMP_EQ_OQ);
  const __mmask8 first = _mm512_cmp_pd_mask(exponent, _mm512_set1_pd(1), _CMP_EQ_OQ);
  return _mm512_mask_blend_pd(first, _mm512_mask_blend_pd(square, power, _mm512_mul_pd(base, base)), base);
}

}  // namespace

// log and log10 have none: for negative and NaN arguments they give NaNs
// of other signs and payloads than the narrower forms.
const void* EightLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
    case VectorFunction::Sin: return address(Sleef_cinz_sind8_u10avx512fnofma);
    case VectorFunction::Cos: return address(Sleef_cinz_cosd8_u10avx512fnofma);
    case VectorFunction::Tan: return address(Sleef_cinz_tand8_u10avx512fnofma);
    case VectorFunction::ASin: return address(Sleef_cinz_asind8_u10avx512fnofma);
    case VectorFunction::ACos: return address(Sleef_cinz_acosd8_u10avx512fnofma);
    case VectorFunction::ATan: return address(Sleef_cinz_atand8_u10avx512fnofma);
    case VectorFunction::SinH: return address(Sleef_cinz_sinhd8_u10avx512fnofma);
    case VectorFunction::CosH: return address(Sleef_cinz_coshd8_u10avx512fnofma);
    case VectorFunction::TanH: return address(Sleef_cinz_tanhd8_u10avx512fnofma);
    case VectorFunction::Exp: return address(Sleef_cinz_expd8_u10avx512fnofma);
    case VectorFunction::Log:
    case VectorFunction::Log10: return nullptr;
    case VectorFunction::Pow: return address(Sleef_cinz_powd8_u10avx512fnofma);
    case VectorFunction::Raise: return address(RaiseEight);
  }
  return nullptr;
}

}  // namespace MathUtils::detail
