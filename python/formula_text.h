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

// A name as UTF-8 for the parser to check, which refuses all but ASCII: a
// lone surrogate, which strict UTF-8 cannot hold, passes as its three bytes
// and is refused there as any other character would be.
std::string NameText(pybind11::handle name);

}  // namespace PythonModule
