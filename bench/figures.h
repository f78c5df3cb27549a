// Figures of the summary: a timing that may be missing, ratios between two,
// their geometric mean, and the text of one in a table.
#pragma once

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace Bench {

using Value = std::optional<double>;

// Geometric mean of the values present; NaN when none is.
inline double GeometricMean(const std::vector<Value>& values) {
  double logSum = 0;
  int count = 0;
  for (const Value& value : values)
    if (value && *value > 0) {
      logSum += std::log(*value);
      ++count;
    }
  return count ? std::exp(logSum / count) : NAN;
}

inline Value Ratio(Value a, Value b) {
  if (!a || !b || *b <= 0) return std::nullopt;
  return *a / *b;
}

inline std::string Format(Value value, const char* format) {
  if (!value || std::isnan(*value)) return "-";
  char text[48];
  std::snprintf(text, sizeof text, format, *value);
  return text;
}

}  // namespace Bench
