// Cells written entry by entry, as a subclass of the parser may assign
// them: each builder returns one entry of the layout in parser/commands.h.
#pragma once

#include <initializer_list>
#include <vector>

#include "parser/core/cells.h"
#include "parser/core/commands.h"

namespace ParserTests::CellEntries {

using MathUtils::Cell;
using Entry = std::vector<Cell>;

inline Entry Value(Cell slot, double value) {
  Entry entry{slot, MathUtils::cdValue, 0, 0};
  MathUtils::WriteDouble(&entry[2], value);
  return entry;
}

inline Entry Addressed(Cell slot, MathUtils::CmdCode code, void* address) {
  Entry entry(2 + MathUtils::AddressCells);
  entry[0] = slot;
  entry[1] = code;
  MathUtils::WriteAddress(&entry[2], address);
  return entry;
}

inline Entry Variable(Cell slot, double* address) { return Addressed(slot, MathUtils::cdVariable, address); }

inline Entry Function(Cell slot, Cell argCount, void* callback) {
  Entry entry(MathUtils::FunctionEntryCells);
  entry[0] = slot;
  entry[1] = MathUtils::cdFunction;
  entry[2] = argCount;
  MathUtils::WriteAddress(&entry[3], callback);
  return entry;
}

inline Entry ContextOp(Cell slot, void* callback, void* context) {
  Entry entry(MathUtils::ContextCallEntryCells);
  entry[0] = slot;
  entry[1] = MathUtils::cdContextOp;
  MathUtils::WriteAddress(&entry[2], callback);
  MathUtils::WriteAddress(&entry[2 + MathUtils::AddressCells], context);
  return entry;
}

inline Entry ContextFunction(Cell slot, Cell argCount, void* callback, void* context) {
  Entry entry(MathUtils::ContextFunctionEntryCells);
  entry[0] = slot;
  entry[1] = MathUtils::cdContextFunction;
  entry[2] = argCount;
  MathUtils::WriteAddress(&entry[3], callback);
  MathUtils::WriteAddress(&entry[3 + MathUtils::AddressCells], context);
  return entry;
}

// The entries in order, then the end marker.
inline std::vector<Cell> Cells(std::initializer_list<Entry> entries) {
  std::vector<Cell> cells;
  for (const Entry& entry : entries) cells.insert(cells.end(), entry.begin(), entry.end());
  cells.insert(cells.end(), MathUtils::EndEntryCells, MathUtils::cdEnd);
  return cells;
}

}  // namespace ParserTests::CellEntries
