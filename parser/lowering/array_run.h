// The one argument of machine code over arrays (parser/x86/array_code.h); the
// code reads its fields by their offsets (parser/x86/x86_conventions.h).
//
// The code reads each variable at Base + the group's byte offset, and
// moves Base back by Step after each group: an array has the step 0; a
// variable held fixed has the step of a group's bytes, so that it is read
// at the same place each time: one copy per lane, or, a point at a time,
// the variable itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MathUtils::detail {

struct ArraySource {
  const double* Base;
  std::uintptr_t Step;
};

struct ArrayRun {
  const ArraySource* Sources;  // one per variable of Variables(), in order
  double* Results;
  std::size_t Count;      // points; a whole number of groups of Lanes(), at least one
  std::size_t DoneBytes;  // 8 x the points written; kept only by code that calls the user's callbacks
  std::uintptr_t
      Stream;  // not 0 (only where Streams()): store around the caches; Results aligned to 8 x Lanes() bytes
};

}  // namespace MathUtils::detail
