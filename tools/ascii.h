// Case folding for command and unit names typed by the user.
#pragma once

#include <string>
#include <string_view>

// Only A to Z change, whatever the locale.
inline std::string LowerCaseAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}
