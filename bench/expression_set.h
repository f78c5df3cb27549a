// The expression set of the benchmark: each formula in our dialect, in the
// peer's dialect, and hand-written as native code, plus the grid of points
// that every implementation is evaluated on.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace Bench {

struct Point {
  double X;
  double Y;
};

inline constexpr int GridSize = 1024;

// x runs over -10..10 without 0, y over +-2..10; 32 x 32 points.
std::span<const Point> Grid();

using NativeFormula = double (*)(double x, double y);
// Sums the formula over the grid; instantiated per formula so that the
// compiler inlines it, as hand-written code would be.
using NativeSweep = double (*)(std::span<const Point> points);
// Writes the formula's value at each point of two arrays.
using NativeBulk = void (*)(const double* xs, const double* ys, double* out, std::size_t count);

struct Expression {
  const char* Ours;  // our dialect: sinr/cosr, _pi, clamp as a variadic function, the math functions
  const char* Peer;  // fparser's dialect: radian sin/cos, pi, clamp of three arguments
  NativeFormula Native;
  NativeSweep Sweep;
  NativeBulk Bulk;
  bool Arithmetic;  // no function call: only + - * / ^
};

inline constexpr int ExpressionCount = 16;
const std::array<Expression, ExpressionCount>& Expressions();

// The bulk set: the expressions above, then formulas of the math functions
// beyond the default vocabulary (atan2, hypot, where), which the peer
// lacks (Peer is null).
inline constexpr int BulkExpressionCount = ExpressionCount + 3;
const Expression& BulkExpression(int index);

// The clamp of the set: clamp(low, value, high).
double Clamp(double low, double value, double high);

}  // namespace Bench
