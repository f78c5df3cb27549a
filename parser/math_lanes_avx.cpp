// The deterministic library's four-lane forms (parser/math_library.h),
// compiled for AVX, which sleef.h requires to declare them; called only
// where the processor has AVX.
#include <immintrin.h>
#include <sleef.h>

#include "parser/math_library.h"

namespace MathUtils::detail {

namespace {

// As Deterministic::Raise, lane by lane.
__m256d RaiseFour(__m256d base, __m256d exponent) {
  const __m256d power = Sleef_cinz_powd4_u10avx(base, exponent);
  const __m256d square = _mm256_cmp_pd(exponent, _mm256_set1_pd(2), _CMP_EQ_OQ);
  const __m256d first = _mm256_cmp_pd(exponent, _mm256_set1_pd(1), _CMP_EQ_OQ);
  return _mm256_blendv_pd(_mm256_blendv_pd(power, _mm256_mul_pd(base, base), square), base, first);
}

}  // namespace

const void* FourLanes(VectorFunction function) {
  const auto address = [](auto form) { return reinterpret_cast<const void*>(form); };
  switch (function) {
    case VectorFunction::None: return nullptr;
    case VectorFunction::Sin: return address(Sleef_cinz_sind4_u10avx);
    case VectorFunction::Cos: return address(Sleef_cinz_cosd4_u10avx);
    case VectorFunction::Tan: return address(Sleef_cinz_tand4_u10avx);
    case VectorFunction::ASin: return address(Sleef_cinz_asind4_u10avx);
    case VectorFunction::ACos: return address(Sleef_cinz_acosd4_u10avx);
    case VectorFunction::ATan: return address(Sleef_cinz_atand4_u10avx);
    case VectorFunction::SinH: return address(Sleef_cinz_sinhd4_u10avx);
    case VectorFunction::CosH: return address(Sleef_cinz_coshd4_u10avx);
    case VectorFunction::TanH: return address(Sleef_cinz_tanhd4_u10avx);
    case VectorFunction::Exp: return address(Sleef_cinz_expd4_u10avx);
    case VectorFunction::Log: return address(Sleef_cinz_logd4_u10avx);
    case VectorFunction::Log10: return address(Sleef_cinz_log10d4_u10avx);
    case VectorFunction::Pow: return address(Sleef_cinz_powd4_u10avx);
    case VectorFunction::Raise: return address(RaiseFour);
  }
  return nullptr;
}

}  // namespace MathUtils::detail
