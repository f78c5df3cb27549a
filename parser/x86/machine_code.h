// Machine code generated at run time from the derived program (x86-64
// with the System V calling convention, and IA-32 cdecl): one backend for
// one point and for arrays of points.
//
// The code computes every double as the program does: the same operations
// in the same order, the same callbacks, and the variables read from their
// addresses at each run. What each instruction becomes is decided once,
// before any width is known (Lower in parser/lowering/lowering.h); the width
// then picks the registers and instruction forms from a table with a row
// per width; each calling convention's frame, calls and returns are a
// class of their own.
//
//   form       lanes       entry                          registers
//   ---------  ----------  -----------------------------  ----------------------------
//   one point  1           double (void*), the argument   xmm, scalar SSE2
//                          ignored
//   loop       1, 2, 4, 8  void (ArrayRun*), see          xmm (1 and 2), ymm (4), zmm
//                          parser/lowering/array_run.h             (8), packed
//
// Stack slots live in vector registers (slot k in register k-1); the
// deepest slots, beyond the registers, live in memory, in the code's own
// stack frame. Before a call, live slots below the call's own are stored
// there and reloaded when next read; a list callback reads its arguments
// there. The code writes nothing but its frame (and a loop its results):
// runs may nest (a callback that evaluates again) and run on several
// threads at once.
//
// What a callback throws, a thread's cancellation included, unwinds through
// the code's frame as through a compiled function's: the code's unwind
// description is registered for as long as the code lives
// (parser/x86/unwind_info.h).
//
// The code is emitted twice: once into the heap to measure it, then into
// pages of that size, with the numbers it reads after the instructions.
// The pages are written while read+write, then made read+execute, never
// both at once. Where any step fails, Generate returns null and the parser
// keeps interpreting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "parser/x86/unwind_info.h"

namespace MathUtils::detail {

struct Program;

class MachineCode {
 public:
  // Whether this build generates machine code at all.
  static bool Supported();
  // The code for the program, or null where it cannot be made. The code
  // keeps no reference to the program.
  static std::unique_ptr<MachineCode> Generate(const Program& program);
  // The most lanes this processor runs (8, 4 or 2), or 1 where this build
  // generates no machine code.
  static int WidestLanes();

  ~MachineCode();
  MachineCode(const MachineCode&) = delete;
  MachineCode& operator=(const MachineCode&) = delete;

  // Where the code begins. The one-point code is called as a function of
  // one pointer argument, which it ignores, returning a double: the parser
  // calls it directly in place of an interpreter.
  void* Entry() const { return Pages; }
  // Whether the code calls a callback of the user's (one that may touch
  // the parser that runs it).
  bool CallsBack() const { return UserCalls; }

  // The instructions, from the entry on; their constants follow them.
  std::span<const std::uint8_t> Code() const { return {Pages, CodeSize}; }
  // Bytes generated: the instructions and their constants.
  std::size_t Size() const { return TotalSize; }
  // Bytes of the pages that hold them.
  std::size_t Reserved() const { return ReservedBytes; }
  // The system's page size.
  static std::size_t PageBytes();

  // The steps of the code's frame, which its unwind description records.
  std::span<const FrameStep> Frame() const { return FrameSteps; }

 protected:
  // What the generator tells of a loop over arrays (parser/x86/array_code.h).
  struct LoopShape {
    int Lanes = 1;
    // The variables it reads, in the order of ArrayRun::Sources.
    std::vector<const double*> Variables;
    // Whether a run may store its results around the caches.
    bool Streams = false;
  };
  MachineCode() = default;
  // Emits the program into pages of this code's own: one point where loop
  // is null, else the loop in that many lanes, whose shape it fills in.
  // False where the code cannot be made.
  bool Emit(const Program& program, int lanes, LoopShape* loop);

 private:
  std::uint8_t* Pages = nullptr;
  std::size_t ReservedBytes = 0;  // bytes of pages allocated
  std::size_t TotalSize = 0;
  std::size_t CodeSize = 0;
  bool UserCalls = false;
  std::vector<FrameStep> FrameSteps;
  std::unique_ptr<UnwindInfo> Unwind;  // registered while the code lives
};

}  // namespace MathUtils::detail
