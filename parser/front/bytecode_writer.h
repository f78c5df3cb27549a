// Writing the entries of the bytecode (layout in parser/core/cells.h) into the
// cells that one compilation fills.
#pragma once

#include <cassert>
#include <cstddef>

#include "parser/core/cells.h"
#include "parser/core/commands.h"
#include "parser/front/cell_buffer.h"

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

  void Value(int slot, double value) { WriteDouble(Entry(ValueEntryCells, slot, cdValue), value); }
  void Addressed(int slot, CmdCode code, void* address) {
    WriteAddress(Entry(2 + AddressCells, slot, code), address);
  }

  void Function(int slot, Cell argCount, void* callback) {
    Cell* payload = Entry(FunctionEntryCells, slot, cdFunction);
    payload[0] = argCount;
    WriteAddress(payload + 1, callback);
  }

  // The calls with a context take more cells than the plain ones that the
  // buffer is sized for: it grows to their size at the first.
  void ContextFunction(int slot, Cell argCount, void* callback, void* context) {
    Cells.Extend(BytecodeCellsWithContextCalls(TextSize));
    Cell* payload = Entry(ContextFunctionEntryCells, slot, cdContextFunction);
    payload[0] = argCount;
    WriteAddress(payload + 1, callback);
    WriteAddress(payload + 1 + AddressCells, context);
  }

  void ContextOp(int slot, void* callback, void* context) {
    Cells.Extend(BytecodeCellsWithContextCalls(TextSize));
    Cell* payload = Entry(ContextCallEntryCells, slot, cdContextOp);
    WriteAddress(payload, callback);
    WriteAddress(payload + AddressCells, context);
  }

  void Binary(int slot, std::int32_t code) { Entry(BinaryEntryCells, slot, code); }
  void End() { Entry(EndEntryCells, cdEnd, cdEnd)[0] = cdEnd; }

 private:
  // Writes the slot and the code of an entry of that many cells; returns
  // where its payload goes.
  Cell* Entry(int cells, Cell slot, Cell code) {
    assert(static_cast<std::size_t>(Index) + static_cast<std::size_t>(cells) <= Cells.Size());
    Cell* at = &Cells[static_cast<std::size_t>(Index)];
    Index += cells;
    at[0] = slot;
    at[1] = code;
    return at + 2;
  }

  CellBuffer& Cells;
  std::size_t TextSize;
};

}  // namespace MathUtils::detail
