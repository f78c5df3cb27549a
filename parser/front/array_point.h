// One point of an evaluation over arrays: the listed variables' values at
// that point, held in a place of the evaluation's own. Whatever runs the
// formula at the point (the compilation of the first point, the cell
// interpreter, the program) reads a listed variable there instead of at the
// variable's address, which is never written: a variable in read-only
// memory, one that other threads or parsers read, and one that a callback
// reads or writes all keep their own value.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "parser/core/cells.h"
#include "parser/core/commands.h"
#include "parser/core/types.h"

namespace MathUtils::detail {

// A few values on the stack, more on the heap: a call over arrays of a
// formula of a few variables allocates nothing.
template <typename T>
class Scratch {
 public:
  explicit Scratch(std::size_t count)
      : Items(count <= InlineCount ? Inline : (Heap.resize(count), Heap.data())) {}
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  T* Data() { return Items; }
  const T* Data() const { return Items; }
  T& operator[](std::size_t i) { return Items[i]; }
  const T& operator[](std::size_t i) const { return Items[i]; }

 private:
  static constexpr std::size_t InlineCount = 64;
  T Inline[InlineCount];
  std::vector<T> Heap;
  T* Items;
};

class ArrayPoint {
 public:
  explicit ArrayPoint(std::span<const VariableArray> variables)
      : Variables(variables), Values(variables.size()) {}
  ArrayPoint(const ArrayPoint&) = delete;
  ArrayPoint& operator=(const ArrayPoint&) = delete;

  void MoveTo(std::size_t point) {
    for (std::size_t k = 0; k < Variables.size(); ++k) Values[k] = Variables[k].Values[point];
  }

  // Where the point holds the variable at address; null for one not listed.
  const double* Find(const void* address) const {
    for (std::size_t k = 0; k < Variables.size(); ++k)
      if (Variables[k].Variable == address) return &Values[k];
    return nullptr;
  }
  // The address to read the variable at: the point's, or its own.
  double* ReadAt(double* variable) const {
    const double* held = Find(variable);
    return held ? const_cast<double*>(held) : variable;
  }
  // The variable whose value the point holds at address, or null.
  const double* VariableHeldAt(const void* address) const {
    for (std::size_t k = 0; k < Variables.size(); ++k)
      if (&Values[k] == address) return Variables[k].Variable;
    return nullptr;
  }

 private:
  std::span<const VariableArray> Variables;
  Scratch<double> Values;
};

// Replaces the address of every variable entry of the cells with
// moved(address), stopping at the end entry or at a code it does not know
// (the interpreter reports that one).
template <typename Move>
void MoveVariableAddresses(std::span<Cell> cells, Move&& moved) {
  for (std::size_t i = 0; i + 1 < cells.size() && cells[i + 1] != cdEnd;) {
    const Command* command = FindCommand(cells[i + 1]);
    if (!command || command->Cells == 0 || i + static_cast<std::size_t>(command->Cells) > cells.size())
      return;
    if (cells[i + 1] == cdVariable) WriteAddress(&cells[i + 2], moved(ReadAddress(&cells[i + 2])));
    i += static_cast<std::size_t>(command->Cells);
  }
}

}  // namespace MathUtils::detail
