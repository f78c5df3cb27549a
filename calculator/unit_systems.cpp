#include "calculator/unit_systems.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace {

constexpr UnitSystemName UnitSystems[] = {
    {"mm", "millimetres", 2}, {"cm", "centimetres", 3},  {"m", "metres", 4},
    {"km", "kilometres", 5},  {"uin", "microinches", 6}, {"mil", "mils", 7},
    {"in", "inches", 8},      {"ft", "feet", 9},         {"mi", "miles", 10},
};

// Equal but for the case of A to Z, whatever the locale.
bool SameNameIgnoringCase(std::string_view typed, std::string_view name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::ranges::equal(typed, name, {}, lower, lower);
}

std::optional<int> ParseInt32(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int32_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (error != std::errc{} || stop != end) return std::nullopt;
  return number;
}

}  // namespace

std::span<const UnitSystemName> KnownUnitSystems() { return UnitSystems; }

std::optional<int> ParseUnitSystem(std::string_view text) {
  for (const UnitSystemName& system : UnitSystems)
    if (SameNameIgnoringCase(text, system.Abbreviation)) return system.Number;
  return ParseInt32(text);
}

std::string DescribeUnitSystem(int number) {
  for (const UnitSystemName& system : UnitSystems)
    if (system.Number == number)
      return std::string(system.Description) + " (" + system.Abbreviation + ", " + std::to_string(number) +
             ")";
  return std::to_string(number) + " (no length unit: unit operators leave values unchanged)";
}

std::string UnitSystemArgument(int number) {
  for (const UnitSystemName& system : UnitSystems)
    if (system.Number == number) return system.Abbreviation;
  return std::to_string(number);
}
