// Case folding and blanks of command and unit names typed by the user.
#pragma once

#include <string>
#include <string_view>

#include "calculator/calculator_driver.h"  // LowerCaseAscii, as formulas are read

// What separates the words of a line.
inline constexpr std::string_view Blanks = " \t";

// The text without the blanks around it.
inline std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}
