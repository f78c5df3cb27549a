#include "bench/result_checks.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "bench/formulas.h"

namespace Bench {

namespace {

bool SameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double RelativeError(double value, double native) {
  if (SameDouble(value, native)) return 0;
  if (std::isnan(value) || std::isnan(native)) return INFINITY;
  return std::fabs(value - native) / std::max(std::fabs(native), 1.0);
}

void Record(Agreement& agreement, double value, double native) {
  if (SameDouble(value, native)) ++agreement.Exact;
  const double error = RelativeError(value, native);
  agreement.MaxRelativeError = std::max(agreement.MaxRelativeError, error);
  if (!(error <= RelativeTolerance)) ++agreement.OutOfTolerance;
}

}  // namespace

Agreement CheckOurs(const Expression& expression, std::span<const Point> points) {
  Agreement agreement;
  OurFormula folded(expression.Ours, true);
  OurFormula unfolded(expression.Ours, false);
  for (const Point& p : points) {
    const double later = folded.At(p.X, p.Y);
    Record(agreement, later, expression.Native(p.X, p.Y));
    const double values[] = {folded.CompileAt(p.X, p.Y), unfolded.CompileAt(p.X, p.Y), unfolded.At(p.X, p.Y),
                             folded.At(p.X, p.Y)};
    if (!std::all_of(std::begin(values), std::end(values),
                     [later](double v) { return SameDouble(v, later); }))
      ++agreement.Inconsistent;
  }
  return agreement;
}

Agreement CheckPeer(const Expression& expression, std::span<const Point> points) {
  Agreement agreement;
  PeerFormula peer(expression.Peer);
  for (const Point& p : points) Record(agreement, peer.At(p.X, p.Y), expression.Native(p.X, p.Y));
  return agreement;
}

}  // namespace Bench
