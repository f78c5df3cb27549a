// Writing the entries of the bytecode (layout in parser/cells.h) into the
// compiled formula that the compilation under way fills.
#pragma once

#include <cassert>
#include <cstddef>

#include "parser/cells.h"
#include "parser/commands.h"
#include "parser/compiled_formula.h"
#include "parser/parser_base.h"

namespace MathUtils {

// The appends write one entry each. Inline: the compiler calls them for
// every operand and operation. Each checks that the entry fits; the sizing
// of the buffer makes this hold for every formula, the check guards the
// proof.
inline void ParserBase::AppendValue(int& index, int slot, double value) {
  assert(static_cast<std::size_t>(index) + ValueEntryCells <= Writing->Size());
  Cell* at = &(*Writing)[static_cast<std::size_t>(index)];
  at[0] = slot;
  at[1] = cdValue;
  WriteDouble(at + 2, value);
  index += ValueEntryCells;
}

inline void ParserBase::AppendAddressed(int& index, int slot, CmdCode code, void* address) {
  assert(static_cast<std::size_t>(index) + 2 + AddressCells <= Writing->Size());
  Cell* at = &(*Writing)[static_cast<std::size_t>(index)];
  at[0] = slot;
  at[1] = code;
  WriteAddress(at + 2, address);
  index += 2 + AddressCells;
}

inline void ParserBase::AppendFunction(int& index, int slot, Cell argCount, void* callback) {
  assert(static_cast<std::size_t>(index) + FunctionEntryCells <= Writing->Size());
  Cell* at = &(*Writing)[static_cast<std::size_t>(index)];
  at[0] = slot;
  at[1] = cdFunction;
  at[2] = argCount;
  WriteAddress(at + 3, callback);
  index += FunctionEntryCells;
}

inline void ParserBase::AppendContextFunction(int& index, int slot, Cell argCount, void* callback,
                                              void* context) {
  Writing->Extend(BytecodeCellsWithContextCalls(ReadText.size()));
  assert(static_cast<std::size_t>(index) + ContextFunctionEntryCells <= Writing->Size());
  Cell* at = &(*Writing)[static_cast<std::size_t>(index)];
  at[0] = slot;
  at[1] = cdContextFunction;
  at[2] = argCount;
  WriteAddress(at + 3, callback);
  WriteAddress(at + 3 + AddressCells, context);
  index += ContextFunctionEntryCells;
}

inline void ParserBase::AppendContextOp(int& index, int slot, void* callback, void* context) {
  Writing->Extend(BytecodeCellsWithContextCalls(ReadText.size()));
  assert(static_cast<std::size_t>(index) + ContextCallEntryCells <= Writing->Size());
  Cell* at = &(*Writing)[static_cast<std::size_t>(index)];
  at[0] = slot;
  at[1] = cdContextOp;
  WriteAddress(at + 2, callback);
  WriteAddress(at + 2 + AddressCells, context);
  index += ContextCallEntryCells;
}

inline void ParserBase::AppendBinary(int& index, int slot, std::int32_t code) {
  assert(static_cast<std::size_t>(index) + BinaryEntryCells <= Writing->Size());
  (*Writing)[static_cast<std::size_t>(index)] = slot;
  (*Writing)[static_cast<std::size_t>(index) + 1] = code;
  index += BinaryEntryCells;
}

inline void ParserBase::AppendEnd(int& index) {
  assert(static_cast<std::size_t>(index) + EndEntryCells <= Writing->Size());
  for (int i = 0; i < EndEntryCells; ++i) (*Writing)[static_cast<std::size_t>(index) + i] = cdEnd;
  index += EndEntryCells;
}

}  // namespace MathUtils
