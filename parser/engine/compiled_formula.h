// A compiled formula: what one compilation makes of a formula, and what
// later evaluations derive from it. The parser keeps its current one and
// replaces it, never changes it, once an evaluation may run it; a callback
// that pulls it away from the parser while it runs leaves it alive until
// the run is over (see CallbackScope).
//
//   part      made by                          read by
//   --------  -------------------------------  ----------------------------------------
//   Cells     the compiler                     the cell interpreter, the program, listings
//   Derived   the first later evaluation       the program interpreters, the machine code
//   Machine   the evaluation that reaches the  the processor, called from Evaluate
//             count of later runs
//   Arrays    the evaluation over arrays that  the processor, from EvaluateArrays
//             reaches its count of points
//
// Derived and Machine are made once per compiled formula, under the
// parser's lock, and published to other threads through the parser's tier.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "parser/core/cells.h"
#include "parser/front/cell_buffer.h"
#include "parser/program/program.h"
#include "parser/x86/array_code.h"
#include "parser/x86/machine_code.h"

namespace MathUtils::detail {

// Points that evaluations over arrays interpret before the machine code over
// arrays is made. Making it takes 10 to 40 us, the time of interpreting 300
// to 3,000 points (measured on x86-64 with the bench's formulas): after
// this many, a caller who stops there has paid at most about twice.
inline constexpr std::int32_t ArrayPointsBeforeMachineCode = 2048;

struct CompiledFormula {
  // Empties it for another compilation; only where nothing can run it.
  void Reset() {
    Machine.reset();
    LaterRunsLeft.store(0, std::memory_order_relaxed);
    Arrays.reset();
    ArraysMade.store(false, std::memory_order_relaxed);
    ArrayPointsLeft.store(0, std::memory_order_relaxed);
  }

  CellBuffer Cells;
  Program Derived;
  std::unique_ptr<MachineCode> Machine;
  // Later evaluations still to interpret before the machine code is made.
  // Counted without a lock: two threads may both count one run, which
  // only moves the switch by a run.
  std::atomic<std::int32_t> LaterRunsLeft{0};
  // The machine code over arrays, made under the parser's lock once
  // evaluations over arrays have reached ArrayPointsLeft points; ArraysMade
  // publishes it (null where none could be made).
  std::unique_ptr<ArrayCode> Arrays;
  std::atomic<bool> ArraysMade{false};
  std::atomic<std::int32_t> ArrayPointsLeft{0};
};

// How Evaluate computes the value: the state behind the parser's entry.
//   Compile      the next evaluation compiles (any change leads here)
//   Constant     the formula folded to one number
//   Derive       compiled; the next evaluation derives the program
//   Cells        the cells as they are, for cells the program refuses
//   Program      the program, with calls / Arithmetic: without calls
//   Counting     the program, counting down to the machine code
//   MachineCode  the machine code, called directly
enum class Tier : std::uint8_t {
  Compile,
  Constant,
  Derive,
  Cells,
  Program,
  Arithmetic,
  Counting,
  MachineCode
};

}  // namespace MathUtils::detail
