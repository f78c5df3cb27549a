#include "calculator/typed_digits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>

#include "calculator/suffix_places.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsNameCharacter(char c) { return IsNameStart(c) || IsDigit(c); }
char LowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t DigitsFrom(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - at;
}

// The number at the front of text, read as the token reader reads it
// (digits, an optional point and digits, an optional exponent): its length
// and the decimal place of its last digit after the point.
struct TypedNumber {
  std::size_t Length = 0;
  long Places = 0;
};

TypedNumber ReadNumber(std::string_view text) {
  std::size_t at = DigitsFrom(text, 0);
  std::size_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    fraction = DigitsFrom(text, at + 1);
    at += 1 + fraction;
  }
  long exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t sign = at + 1 < text.size() && (text[at + 1] == '+' || text[at + 1] == '-') ? 1 : 0;
    const std::size_t digits = DigitsFrom(text, at + 1 + sign);
    if (digits > 0) {
      const std::string_view written = text.substr(at + 1 + sign, std::min<std::size_t>(digits, 6));
      std::from_chars(written.data(), written.data() + written.size(), exponent);
      if (text[at + 1] == '-') exponent = -exponent;
      at += 1 + sign + digits;
    }
  }
  return {at, static_cast<long>(fraction) - exponent};
}

// The places that a unit suffix at `at` adds to the value before it
// ("0.5mm", "(1+2)in?", "2 ft": the parser reads past blanks to it),
// reading past it; 0 and nothing read when no suffix follows.
long SuffixPlaces(std::string_view line, std::size_t& at, int unitSystem) {
  std::size_t end = at;
  while (end < line.size() && (line[end] == ' ' || line[end] == '\t')) ++end;
  const std::size_t start = end;
  while (end < line.size() && IsNameCharacter(line[end])) ++end;
  if (end < line.size() && line[end] == '?') ++end;
  // The longest suffix, "mm?", has three characters: read on the Enter
  // path without allocating.
  char suffix[3];
  if (end - start > sizeof suffix) return 0;
  for (std::size_t i = start; i < end; ++i) suffix[i - start] = LowerCase(line[i]);
  const std::optional<int> places = SuffixDecimalPlaces(std::string_view(suffix, end - start), unitSystem);
  if (!places) return 0;
  at = end;
  return *places;
}

// The places of the caller's variable of that name, in any case.
std::optional<int> PlacesOf(std::string_view name, std::span<const NamedPlaces> variables) {
  for (const NamedPlaces& variable : variables)
    if (std::ranges::equal(name, variable.Name, {}, LowerCase)) return variable.Places;
  return std::nullopt;
}

// The decimal exponent of the value's leading digit as seventeen digits
// show it.
int DecimalExponent(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                    MostSignificantDigits - 1);
  const std::string_view shown(text, static_cast<std::size_t>(result.ptr - text));
  std::string_view exponent = shown.substr(shown.find('e') + 1);  // "+06", "-05"
  const bool negative = exponent.front() == '-';
  exponent.remove_prefix(1);
  int magnitude = 0;
  std::from_chars(exponent.data(), exponent.data() + exponent.size(), magnitude);
  return negative ? -magnitude : magnitude;
}

}  // namespace

int TypedDecimalPlaces(std::string_view line, int unitSystem, std::span<const NamedPlaces> variables) {
  // The finest place inside each open bracket, the line's own first;
  // brackets nested deeper than the levels held count in the deepest.
  std::array<long, 32> levels{};
  std::size_t depth = 0;
  std::size_t deeper = 0;
  std::size_t at = 0;
  while (at < line.size()) {
    if (IsNameStart(line[at])) {
      const std::size_t start = at;
      while (at < line.size() && IsNameCharacter(line[at])) ++at;
      if (const std::optional<int> places = PlacesOf(line.substr(start, at - start), variables))
        levels[depth] = std::max(levels[depth], *places + SuffixPlaces(line, at, unitSystem));
    } else if (IsDigit(line[at]) || (line[at] == '.' && at + 1 < line.size() && IsDigit(line[at + 1]))) {
      const TypedNumber number = ReadNumber(line.substr(at));
      at += number.Length;
      levels[depth] = std::max(levels[depth], number.Places + SuffixPlaces(line, at, unitSystem));
    } else if (line[at] == '(') {
      if (depth + 1 < levels.size())
        levels[++depth] = 0;
      else
        ++deeper;
      ++at;
    } else if (line[at] == ')' && depth > 0) {
      const long inside = levels[depth] + SuffixPlaces(line, ++at, unitSystem);
      if (deeper > 0) {
        --deeper;
        levels[depth] = std::max(levels[depth], inside);
      } else {
        --depth;
        levels[depth] = std::max(levels[depth], inside);
      }
    } else {
      ++at;
    }
  }
  // Brackets left open (the line is no formula then) count all the same.
  const long places = *std::max_element(levels.begin(), levels.begin() + depth + 1);
  return static_cast<int>(std::clamp<long>(places, 0, 1000));
}

int DigitsKeepingTypedPlaces(double value, std::string_view line, int unitSystem) {
  return DigitsKeepingPlaces(value, TypedDecimalPlaces(line, unitSystem));
}

int DigitsKeepingPlaces(double value, int places) {
  if (!std::isfinite(value) || value == 0 || places <= 0) return CommandLineDigits;
  // Most values are far from needing more digits: the binary exponent
  // bounds the decimal one from above (rounding to seventeen digits may
  // carry it one further), and printing all seventeen to learn it exactly
  // would be most of the Enter path's formatting.
  constexpr double Log10Of2 = 0.30102999566398120;
  const long decimalBound = static_cast<long>(std::floor((std::ilogb(value) + 1) * Log10Of2)) + 2;
  if (decimalBound + 1 + places <= CommandLineDigits) return CommandLineDigits;
  const long needed = static_cast<long>(DecimalExponent(value)) + 1 + places;
  return static_cast<int>(std::clamp<long>(needed, CommandLineDigits, MostSignificantDigits));
}
