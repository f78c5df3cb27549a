// The document unit systems by name, as the terminal calculator's -u and the
// Python module's units= take them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

struct UnitSystemName {
  const char* Abbreviation;  // as typed after -u or "units"
  const char* Description;
  int Number;  // the host's unit-system value
};

// The nine unit systems that the unit operators convert, millimetres first.
std::span<const UnitSystemName> KnownUnitSystems();

// An abbreviation such as "mm" (any case) or a decimal 32-bit integer.
std::optional<int> ParseUnitSystem(std::string_view text);

// "metres (m, 4)", or the bare number for a system the operators ignore.
std::string DescribeUnitSystem(int number);

// How to name the unit system to ParseUnitSystem: "mm", or its number.
std::string UnitSystemArgument(int number);
