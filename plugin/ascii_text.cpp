#include "plugin/ascii_text.h"

std::optional<std::string> AsciiText(std::wstring_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t unit : text) {
    if (static_cast<unsigned>(unit) > 127) return std::nullopt;
    narrow.push_back(static_cast<char>(unit));
  }
  return narrow;
}
