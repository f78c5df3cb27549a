// Listing the entries of a compiled formula (layout in parser/cells.h).
#pragma once

#include <functional>
#include <span>
#include <string>

#include "parser/cells.h"

namespace MathUtils {

// Lists the entries of a bytecode one per line, for tests and debugging:
// "1 VALUE 6", "2 VAR x", "1 ADD", "1 FUNC 1 sin", "1 CALL mm", "END".
// nameOf turns a variable or callback address into a name.
std::string Disassemble(std::span<const Cell> cells, const std::function<std::string(const void*)>& nameOf);

}  // namespace MathUtils
