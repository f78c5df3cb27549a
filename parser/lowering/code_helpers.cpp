#include "parser/lowering/code_helpers.h"

#include <cmath>
#include <span>

#include "parser/core/commands.h"

namespace MathUtils::detail {

double CallList(ListCallback callback, const double* arguments, std::size_t count) {
  return callback(std::span<const double>(arguments, count));
}

double CallListWithContext(ListContextCallback callback, void* context, const double* arguments,
                           std::size_t count) {
  return callback(context, std::span<const double>(arguments, count));
}

double RaiseToPower(double base, double exponent) { return Power(base, exponent); }

double (*const LibraryPow)(double, double) = std::pow;

bool ExactReciprocal(double divisor, double& reciprocal) {
  int exponent;
  if (!std::isfinite(divisor) || std::fabs(std::frexp(divisor, &exponent)) != 0.5) return false;
  reciprocal = 1 / divisor;
  return std::isnormal(reciprocal) && reciprocal * divisor == 1;
}

}  // namespace MathUtils::detail
