#include "bench/bytecode_size.h"

#include <stdexcept>

#include "parser/core/commands.h"

namespace Bench {

namespace {

using namespace MathUtils;

int EntryCells(Cell code) {
  if (IsBinaryOperator(code)) return BinaryEntryCells;
  switch (code) {
    case cdVariable: return VariableEntryCells;
    case cdValue: return ValueEntryCells;
    case cdFunction: return FunctionEntryCells;
    case cdPostfixOp: return CallEntryCells;
    case cdEnd: return EndEntryCells;
    default: throw std::runtime_error("unknown command code in bytecode: " + std::to_string(code));
  }
}

}  // namespace

BytecodeSize MeasureBytecode(std::span<const Cell> cells) {
  BytecodeSize size;
  for (;;) {
    if (size.Cells + 2 > static_cast<int>(cells.size()))
      throw std::runtime_error("bytecode without end marker");
    const Cell code = cells[static_cast<std::size_t>(size.Cells) + 1];
    size.Cells += EntryCells(code);
    ++size.Entries;
    if (code == cdEnd) return size;
  }
}

}  // namespace Bench
