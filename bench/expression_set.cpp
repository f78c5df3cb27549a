#include "bench/expression_set.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace Bench {

namespace {

constexpr double Pi = std::numbers::pi;

std::array<Point, GridSize> MakeGrid() {
  constexpr int Side = 32;
  std::array<Point, GridSize> points{};
  for (int i = 0; i < Side; ++i) {
    // Half-step offsets keep x symmetric around 0 without ever reaching it.
    const double x = -10.0 + 20.0 * (i + 0.5) / Side;
    for (int j = 0; j < Side; ++j) {
      const double magnitude = 2.0 + 8.0 * (j / 2) / (Side / 2 - 1);
      const double y = (j % 2 == 0) ? magnitude : -magnitude;
      points[i * Side + j] = {x, y};
    }
  }
  return points;
}

// ORDER Expressions: N01 .. N16 follow the table below.
inline double N01(double x, double y) { return y + x; }
inline double N02(double x, double y) { return 2 * (y + x); }
inline double N03(double x, double y) { return 2 * y + 2 * x; }
inline double N04(double x, double y) { return ((1.23 * std::pow(x, 2)) / y) - 123.123; }
inline double N05(double x, double y) { return (y + x / y) * (x - y / x); }
inline double N06(double x, double y) { return x / ((x + y) + (x - y)) / y; }
inline double N07(double x, double y) { return 1 - ((x * y) + (y / x)) - 3; }
inline double N08(double x, double y) {
  return (5.5 + x) + (2 * x - 2.0 / 3 * y) * (x / 3 + y / 4) + (y + 7.7);
}
inline double N09(double x, double y) {
  return 1.1 * std::pow(x, 1) + 2.2 * std::pow(y, 2) - 3.3 * std::pow(x, 3) + 4.4 * std::pow(y, 15) -
         5.5 * std::pow(x, 23) + 6.6 * std::pow(y, 55);
}
inline double N10(double x, double y) { return std::sin(2 * x) + std::cos(Pi / y); }
inline double N11(double x, double y) { return 1 - std::sin(2 * x) + std::cos(Pi / y); }
inline double N12(double x, double y) {
  return std::sqrt(111.111 - std::sin(2 * x) + std::cos(Pi / y) / 333.333);
}
inline double N13(double x, double y) { return (std::pow(x, 2) / std::sin(2 * Pi / y)) - x / 2; }
inline double N14(double x, double y) {
  return x + (std::cos(y - std::sin(2 / x * Pi)) - std::sin(x - std::cos(2 * y / Pi))) - y;
}
inline double N15(double x, double y) {
  return Clamp(-1.0, std::sin(2 * Pi * x) + std::cos(y / 2 * Pi), 1.0);
}
inline double N16(double x, double y) {
  return std::max(3.33, std::min(std::sqrt(1 - std::sin(2 * x) + std::cos(Pi / y) / 3), 1.11));
}

// The bulk set's own: radians to degrees by the double nearest 180/pi, as
// atan2 does.
constexpr double ToDegrees = 57.29577951308232;
inline double N17(double x, double y) { return std::atan2(y, x) * ToDegrees / 90 + x; }
inline double N18(double x, double y) { return std::hypot(x, y) - std::hypot(y, 1.5); }
inline double N19(double x, double y) { return (x > 0 ? std::sqrt(x) : -y) + (x < y ? x : y * 2); }

template <NativeFormula Formula>
double SweepOf(std::span<const Point> points) {
  double total = 0;
  for (const Point& p : points) total += Formula(p.X, p.Y);
  return total;
}

// The loop a careful C++ programmer writes over arrays: the formula inlined,
// the arrays declared unaliased.
template <NativeFormula Formula>
void BulkOf(const double* __restrict xs, const double* __restrict ys, double* __restrict out,
            std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = Formula(xs[i], ys[i]);
}

}  // namespace

double Clamp(double low, double value, double high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

std::span<const Point> Grid() {
  static const std::array<Point, GridSize> Points = MakeGrid();
  return Points;
}

const std::array<Expression, ExpressionCount>& Expressions() {
  static const std::array<Expression, ExpressionCount> Set = {{
      {"(y + x)", "(y + x)", N01, SweepOf<N01>, BulkOf<N01>, true},
      {"2 * (y + x)", "2 * (y + x)", N02, SweepOf<N02>, BulkOf<N02>, true},
      {"(2 * y + 2 * x)", "(2 * y + 2 * x)", N03, SweepOf<N03>, BulkOf<N03>, true},
      {"((1.23 * x^2) / y) - 123.123", "((1.23 * x^2) / y) - 123.123", N04, SweepOf<N04>, BulkOf<N04>, true},
      {"(y + x / y) * (x - y / x)", "(y + x / y) * (x - y / x)", N05, SweepOf<N05>, BulkOf<N05>, true},
      {"x / ((x + y) + (x - y)) / y", "x / ((x + y) + (x - y)) / y", N06, SweepOf<N06>, BulkOf<N06>, true},
      {"1 - ((x * y) + (y / x)) - 3", "1 - ((x * y) + (y / x)) - 3", N07, SweepOf<N07>, BulkOf<N07>, true},
      {"(5.5 + x) + (2 * x - 2 / 3 * y) * (x / 3 + y / 4) + (y + 7.7)",
       "(5.5 + x) + (2 * x - 2 / 3 * y) * (x / 3 + y / 4) + (y + 7.7)", N08, SweepOf<N08>, BulkOf<N08>, true},
      {"1.1*x^1 + 2.2*y^2 - 3.3*x^3 + 4.4*y^15 - 5.5*x^23 + 6.6*y^55",
       "1.1*x^1 + 2.2*y^2 - 3.3*x^3 + 4.4*y^15 - 5.5*x^23 + 6.6*y^55", N09, SweepOf<N09>, BulkOf<N09>, true},
      {"sinr(2 * x) + cosr(_pi / y)", "sin(2 * x) + cos(pi / y)", N10, SweepOf<N10>, BulkOf<N10>, false},
      {"1 - sinr(2 * x) + cosr(_pi / y)", "1 - sin(2 * x) + cos(pi / y)", N11, SweepOf<N11>, BulkOf<N11>,
       false},
      {"sqrt(111.111 - sinr(2 * x) + cosr(_pi / y) / 333.333)",
       "sqrt(111.111 - sin(2 * x) + cos(pi / y) / 333.333)", N12, SweepOf<N12>, BulkOf<N12>, false},
      {"(x^2 / sinr(2 * _pi / y)) - x / 2", "(x^2 / sin(2 * pi / y)) - x / 2", N13, SweepOf<N13>, BulkOf<N13>,
       false},
      {"x + (cosr(y - sinr(2 / x * _pi)) - sinr(x - cosr(2 * y / _pi))) - y",
       "x + (cos(y - sin(2 / x * pi)) - sin(x - cos(2 * y / pi))) - y", N14, SweepOf<N14>, BulkOf<N14>,
       false},
      {"clamp(-1.0, sinr(2 * _pi * x) + cosr(y / 2 * _pi), 1.0)",
       "clamp(-1.0, sin(2 * pi * x) + cos(y / 2 * pi), 1.0)", N15, SweepOf<N15>, BulkOf<N15>, false},
      {"max(3.33, min(sqrt(1 - sinr(2 * x) + cosr(_pi / y) / 3), 1.11))",
       "max(3.33, min(sqrt(1 - sin(2 * x) + cos(pi / y) / 3), 1.11))", N16, SweepOf<N16>, BulkOf<N16>, false},
  }};
  return Set;
}

const Expression& BulkExpression(int index) {
  static const std::array<Expression, BulkExpressionCount - ExpressionCount> MathFunctions = {{
      {"atan2(y, x) / 90 + x", nullptr, N17, SweepOf<N17>, BulkOf<N17>, false},
      {"hypot(x, y) - hypot(y, 1.5)", nullptr, N18, SweepOf<N18>, BulkOf<N18>, false},
      {"where(x > 0, sqrt(x), -y) + where(x < y, x, y * 2)", nullptr, N19, SweepOf<N19>, BulkOf<N19>, false},
  }};
  if (index < ExpressionCount) return Expressions()[static_cast<std::size_t>(index)];
  return MathFunctions[static_cast<std::size_t>(index - ExpressionCount)];
}

}  // namespace Bench
