// Writing the entries of the bytecode (layout in parser/cells.h) into the
// cells that one compilation fills.
#pragma once

#include <cassert>
#include <cstddef>

#include "parser/cell_buffer.h"
#include "parser/cells.h"
#include "parser/commands.h"

namespace MathUtils::detail {

// Each append writes one entry at the index and moves the index past it.
// Inline: the compiler appends for every operand and operation. Each checks
// that the entry fits; the sizing of the buffer makes this hold for every
// formula, the check guards the proof.
class CellWriter {
 public:
  // Sizes the cells for a formula of textSize characters, all 0.
  CellWriter(CellBuffer& cells, std::size_t textSize) : Cells(cells), TextSize(textSize) {
    Cells.AssignZeros(BytecodeCellsFor(textSize));
  }

  int Index = 0;  // the next free cell

  void Value(int slot, double value) {
    Cell* at = Entry(ValueEntryCells);
    at[0] = slot;
    at[1] = cdValue;
    WriteDouble(at + 2, value);
  }

  void Addressed(int slot, CmdCode code, void* address) {
    Cell* at = Entry(2 + AddressCells);
    at[0] = slot;
    at[1] = code;
    WriteAddress(at + 2, address);
  }

  void Function(int slot, Cell argCount, void* callback) {
    Cell* at = Entry(FunctionEntryCells);
    at[0] = slot;
    at[1] = cdFunction;
    at[2] = argCount;
    WriteAddress(at + 3, callback);
  }

  // The calls with a context take more cells than the plain ones that the
  // buffer is sized for: it grows to their size at the first.
  void ContextFunction(int slot, Cell argCount, void* callback, void* context) {
    Cells.Extend(BytecodeCellsWithContextCalls(TextSize));
    Cell* at = Entry(ContextFunctionEntryCells);
    at[0] = slot;
    at[1] = cdContextFunction;
    at[2] = argCount;
    WriteAddress(at + 3, callback);
    WriteAddress(at + 3 + AddressCells, context);
  }

  void ContextOp(int slot, void* callback, void* context) {
    Cells.Extend(BytecodeCellsWithContextCalls(TextSize));
    Cell* at = Entry(ContextCallEntryCells);
    at[0] = slot;
    at[1] = cdContextOp;
    WriteAddress(at + 2, callback);
    WriteAddress(at + 2 + AddressCells, context);
  }

  void Binary(int slot, std::int32_t code) {
    Cell* at = Entry(BinaryEntryCells);
    at[0] = slot;
    at[1] = code;
  }

  void End() {
    Cell* at = Entry(EndEntryCells);
    for (int i = 0; i < EndEntryCells; ++i) at[i] = cdEnd;
  }

 private:
  Cell* Entry(int cells) {
    assert(static_cast<std::size_t>(Index) + static_cast<std::size_t>(cells) <= Cells.Size());
    Cell* at = &Cells[static_cast<std::size_t>(Index)];
    Index += cells;
    return at;
  }

  CellBuffer& Cells;
  std::size_t TextSize;
};

}  // namespace MathUtils::detail
