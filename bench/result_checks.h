// Checks an implementation's values against the native ones on the whole
// grid, before anything is timed.
#pragma once

#include <span>

#include "bench/expression_set.h"

namespace Bench {

// Tolerance on |value - native| / max(|native|, 1).
inline constexpr double RelativeTolerance = 1e-12;

struct Agreement {
  int Exact = 0;           // points equal to native bit for bit (NaN matching NaN)
  int OutOfTolerance = 0;  // points beyond RelativeTolerance
  double MaxRelativeError = 0;
  // Ours only: the compile-time value and every later value are the same
  // double, with folding on and with folding off.
  int Inconsistent = 0;
};

Agreement CheckOurs(const Expression& expression, std::span<const Point> points);
Agreement CheckPeer(const Expression& expression, std::span<const Point> points);

}  // namespace Bench
