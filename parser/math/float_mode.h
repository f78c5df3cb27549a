// The one floating-point mode the deterministic math library computes in,
// whatever the caller's: rounding to nearest, denormals neither read as
// zero (DAZ) nor flushed to zero (FTZ). Its functions then give the same
// bits under any mode of the caller, at every width: under a directed
// rounding or FTZ their own steps would round otherwise, and differently
// in their scalar and vector forms.
//
//   MXCSR bits   what                         inside the scope
//   -----------  ---------------------------  ----------------------------------------
//   0-5          exception flags (sticky)     the caller's, and those the function raises
//   6            DAZ                          off
//   7-12         exception masks              the caller's
//   13-14        rounding                     to nearest
//   15           FTZ                          off
//
// On leaving, the caller's control bits come back and the flags stay: the
// caller's plus those the function raised, none lost. Where the caller's
// mode is already this one (the usual case), the scope costs a read of the
// register and a test.
#pragma once

#include <xmmintrin.h>

namespace MathUtils::detail {

class NearestMode {
 public:
  NearestMode() : Caller(_mm_getcsr()) {
    if (Caller & Controls) _mm_setcsr(Caller & ~Controls);
  }
  ~NearestMode() {
    if (Caller & Controls) _mm_setcsr(Caller | (_mm_getcsr() & Flags));
  }
  NearestMode(const NearestMode&) = delete;
  NearestMode& operator=(const NearestMode&) = delete;

 private:
  static constexpr unsigned Flags = 0x003f;
  static constexpr unsigned Controls = 0x0040 | 0x6000 | 0x8000;  // DAZ, rounding, FTZ

  unsigned Caller;
};

// A function called in that mode: InNearestMode<F>::Call has F's signature
// (scalar or vector), so that it stands wherever F's address did.
template <auto Form>
struct InNearestMode;
template <typename Result, typename... Arguments, Result (*Form)(Arguments...)>
struct InNearestMode<Form> {
  static Result Call(Arguments... arguments) {
    const NearestMode mode;
    return Form(arguments...);
  }
};

}  // namespace MathUtils::detail
