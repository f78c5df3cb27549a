// The command line's UTF-16 text as the narrow text that the calculator
// reads. Formulas are ASCII, so no code page is asked: a conversion through
// the ANSI code page would depend on it (and where that page is UTF-8, the
// conversion refuses the flags that keep look-alike letters out).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text unit by unit, or nothing when a unit lies above 127: such a line
// is no formula, whatever the code page.
std::optional<std::string> AsciiText(std::wstring_view text);
