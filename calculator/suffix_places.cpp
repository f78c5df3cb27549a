#include "calculator/suffix_places.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <numeric>

namespace {

// Lengths as whole multiples of 1e-7 mm, which a microinch (0.0000254 mm,
// 254 of them) and every other unit are: each ratio of two is then exact.
constexpr std::int64_t Millimetre = 10'000'000;
constexpr std::int64_t Inch = 254'000'000;

struct NamedLength {
  std::string_view Suffix;
  std::int64_t Size;
};

constexpr NamedLength Suffixes[] = {
    {"mm", Millimetre}, {"cm", 10 * Millimetre}, {"m", 1000 * Millimetre}, {"in", Inch}, {"ft", 12 * Inch},
};

// ORDER ON::unit_system, from 2 (millimetres) to 10 (miles).
constexpr int FirstUnitSystem = 2;
// clang-format off
constexpr std::int64_t UnitSystemSizes[] = {
    /*  2 mm  */ Millimetre,
    /*  3 cm  */ 10 * Millimetre,
    /*  4 m   */ 1000 * Millimetre,
    /*  5 km  */ 1'000'000 * Millimetre,
    /*  6 uin */ Inch / 1'000'000,
    /*  7 mil */ Inch / 1000,
    /*  8 in  */ Inch,
    /*  9 ft  */ 12 * Inch,
    /* 10 mi  */ 63360 * Inch,
};
// clang-format on

struct FixedFactor {
  std::string_view Suffix;
  int Places;
};

constexpr FixedFactor FixedFactors[] = {
    {"mi", -3}, {"mc", -6}, {"n", -9}, {"mi?", 3}, {"mc?", 6}, {"n?", 9},
};

// Whether the number is a product of twos and fives only; counts them.
bool OnlyTwosAndFives(std::int64_t number, int& twos, int& fives) {
  for (; number % 2 == 0; number /= 2) ++twos;
  for (; number % 5 == 0; number /= 5) ++fives;
  return number == 1;
}

// The places of numerator/denominator as a decimal, negative for the zeros
// that end a whole number; for a fraction that no decimal ends, the place
// of its second significant digit.
int PlacesOfRatio(std::int64_t numerator, std::int64_t denominator) {
  const std::int64_t common = std::gcd(numerator, denominator);
  numerator /= common;
  denominator /= common;
  int twos = 0;
  int fives = 0;
  if (denominator == 1) {
    int zeros = 0;
    for (; numerator % 10 == 0; numerator /= 10) ++zeros;
    return -zeros;
  }
  if (OnlyTwosAndFives(denominator, twos, fives)) return std::max(twos, fives);
  const double factor = static_cast<double>(numerator) / static_cast<double>(denominator);
  return static_cast<int>(std::floor(-std::log10(factor))) + 2;
}

// Any int may name a unit system (the host passes its own numbers): the
// index is computed wide, so that INT_MIN cannot overflow.
std::optional<std::int64_t> UnitSystemSize(int unitSystem) {
  const std::int64_t index = std::int64_t{unitSystem} - FirstUnitSystem;
  if (index < 0 || index >= static_cast<std::int64_t>(std::size(UnitSystemSizes))) return std::nullopt;
  return UnitSystemSizes[index];
}

}  // namespace

std::optional<int> SuffixDecimalPlaces(std::string_view suffix, int unitSystem) {
  for (const FixedFactor& fixed : FixedFactors)
    if (suffix == fixed.Suffix) return fixed.Places;
  const bool reverse = suffix.ends_with('?');
  if (reverse) suffix.remove_suffix(1);
  for (const NamedLength& named : Suffixes) {
    if (suffix != named.Suffix) continue;
    const std::optional<std::int64_t> document = UnitSystemSize(unitSystem);
    if (!document) return 0;  // lengths stay as they are
    return reverse ? PlacesOfRatio(*document, named.Size) : PlacesOfRatio(named.Size, *document);
  }
  return std::nullopt;
}
