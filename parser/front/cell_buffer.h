// The cells that one compilation writes: the storage of a compiled formula.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "parser/core/cells.h"

namespace MathUtils::detail {

// The cells of a compiled formula. Short formulas keep them inline, so that
// compiling one into a compiled formula used before allocates nothing.
class CellBuffer {
 public:
  static constexpr std::size_t InlineCells = 96;

  CellBuffer() = default;
  CellBuffer(const CellBuffer&) = delete;
  CellBuffer& operator=(const CellBuffer&) = delete;

  // Makes the buffer count cells long, all 0.
  void AssignZeros(std::size_t count) {
    if (count > InlineCells) {
      Heap.assign(count, 0);
      Begin = Heap.data();
    } else {
      std::fill_n(Inline, count, 0);
      Begin = Inline;
    }
    Count = count;
  }
  // Makes the buffer count cells long where it is shorter, keeping its
  // cells; the new ones are 0.
  void Extend(std::size_t count) {
    if (count <= Count) return;
    if (count > InlineCells) {
      if (Begin == Inline) Heap.assign(Inline, Inline + Count);
      Heap.resize(count, 0);
      Begin = Heap.data();
    } else {
      std::fill(Inline + Count, Inline + count, 0);
    }
    Count = count;
  }
  CellBuffer& operator=(std::span<const Cell> cells) {
    AssignZeros(cells.size());
    std::copy(cells.begin(), cells.end(), Begin);
    return *this;
  }

  Cell* Data() { return Begin; }
  const Cell* Data() const { return Begin; }
  std::size_t Size() const { return Count; }
  Cell& operator[](std::size_t i) { return Begin[i]; }
  const Cell& operator[](std::size_t i) const { return Begin[i]; }
  operator std::span<const Cell>() const { return {Begin, Count}; }

 private:
  Cell Inline[InlineCells];
  std::vector<Cell> Heap;
  Cell* Begin = Inline;
  std::size_t Count = 0;
};

}  // namespace MathUtils::detail
