// Listing the entries of a compiled formula (layout in parser/core/cells.h).
#pragma once

#include <functional>
#include <span>
#include <string>

#include "parser/core/cells.h"

namespace MathUtils {

// Turns a variable or callback address into a name; context is the one a
// callback is called with, null for a plain callback and a variable.
using NameOfAddress = std::function<std::string(const void* address, const void* context)>;

// Lists the entries of a bytecode one per line, for tests and debugging:
// "1 VALUE 6", "2 VAR x", "1 ADD", "1 FUNC 1 sin", "1 CALL mm", "END".
std::string Disassemble(std::span<const Cell> cells, const NameOfAddress& nameOf);

}  // namespace MathUtils
