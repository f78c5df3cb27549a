// The text of a formula or a name as the parser reads it: ASCII without
// NUL. The parser reads bytes, so any other character is refused here,
// where whole characters and their positions are known.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace PythonModule {

// The str as ASCII. A character outside ASCII, or a NUL, raises FormulaError
// as the parser reports an unknown token: "Unknown token found: " and the
// text up to that character, then " <- here", with the position after it in
// characters. Anything but a str raises TypeError; what names the argument.
std::string FormulaText(pybind11::handle text, const char* what);

}  // namespace PythonModule
