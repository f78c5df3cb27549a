// The size of a compiled formula, counted by walking its entries up to and
// including the end marker (the array itself is sized for the worst case).
#pragma once

#include <span>

#include "parser/parser.h"

namespace Bench {

struct BytecodeSize {
  int Cells = 0;
  int Entries = 0;  // the end marker included
};

BytecodeSize MeasureBytecode(std::span<const MathUtils::Cell> cells);

}  // namespace Bench
