// The compiled formula: a flat array of 32-bit cells in postfix order.
//
// Every entry starts with two cells, the evaluation-stack slot s that
// receives its result and its command code, followed by a payload:
//
//   code                   cells      payload               effect when run
//   ---------------------  ---------  --------------------  -----------------------------------
//   cdLessEq .. cdOr 0-12  2          -                     stack[s] = stack[s] op stack[s+1]
//   cdVariable 16          2 + A      address of a double   stack[s] = *address (read each run)
//   cdValue 17             4          double, low half 1st  stack[s] = the double
//   cdFunction 18          3 + A      n, callback address   n >= 1: stack[s] = f(stack[s..s+n-1])
//                                                           n <= 0: f(view of -n values from s)
//   cdPostfixOp 19         2 + A      callback address      stack[s] = f(stack[s]); prefix too
//   cdEnd 21               3          -                     all three cells hold 21; result is stack[1]
//   cdContextFunction 23   3 + 2 A    n, callback, context  as cdFunction, each call f(context, ..)
//   cdContextOp 24         2 + 2 A    callback, context     stack[s] = f(context, stack[s]); prefix too
//
// Notes
// - A is the number of cells an address takes: 1 on 32-bit Windows, 2 on
//   64-bit Linux. Addresses and doubles are copied in and out with memcpy.
// - Value entries are 4 cells on every platform, so folding moves the
//   index back by 8 (binary), 4 (unary) or 4 x n (function) cells.
// - A function of a fixed count above one (a built-in math function of two
//   or three arguments) has a list callback and is written with -n.
// - Slot 0 is never written; the first operand lands in slot 1.
// - Codes 13, 14, 15, 20 and 22 never appear in the bytecode.
// - A callback defined with a context (a function with its context
//   pointer, or a callable object the parser keeps) is written with the
//   context codes; every other call with the plain ones.
// - Sizing: no token writes more than 4 cells per formula character it
//   spans, so 5 x length + 2 cells always leave room for the end marker.
//   A call with a context may write more for one character (an operator:
//   6 cells on 64-bit Linux); the first one that a compilation writes
//   extends the cells to the length that bounds those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "parser/types.h"

namespace MathUtils {

inline constexpr int AddressCells = static_cast<int>(sizeof(void*) / sizeof(Cell));
static_assert(sizeof(void*) % sizeof(Cell) == 0);
static_assert(sizeof(double) == 2 * sizeof(Cell));

inline constexpr int BinaryEntryCells = 2;
inline constexpr int VariableEntryCells = 2 + AddressCells;
inline constexpr int ValueEntryCells = 4;
inline constexpr int FunctionEntryCells = 3 + AddressCells;
inline constexpr int CallEntryCells = 2 + AddressCells;
inline constexpr int EndEntryCells = 3;
inline constexpr int ContextFunctionEntryCells = 3 + 2 * AddressCells;
inline constexpr int ContextCallEntryCells = 2 + 2 * AddressCells;

// The interpreter's stack holds this many doubles; slots run from 1 to 299.
inline constexpr int EvaluationStackSize = 300;

inline std::size_t BytecodeCellsFor(std::size_t formulaLength) { return 5 * formulaLength + 2; }

inline constexpr std::size_t ContextCellsPerCharacter =
    ValueEntryCells > ContextCallEntryCells ? ValueEntryCells : ContextCallEntryCells;
inline std::size_t BytecodeCellsWithContextCalls(std::size_t formulaLength) {
  return (ContextCellsPerCharacter + 1) * formulaLength + 2;
}

inline double ReadDouble(const Cell* at) {
  double value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

inline void WriteDouble(Cell* at, double value) { std::memcpy(at, &value, sizeof value); }

inline void* ReadAddress(const Cell* at) {
  void* address;
  std::memcpy(&address, at, sizeof address);
  return address;
}

inline void WriteAddress(Cell* at, void* address) { std::memcpy(at, &address, sizeof address); }

}  // namespace MathUtils
