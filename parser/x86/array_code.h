// Machine code that runs the derived program over arrays of points: the
// loop over the points is the code's own, and where the processor has
// vector registers, several points run at once, one in each lane.
//
// Every lane computes what the one-point code computes, bit for bit: only
// operations that give the same bits per lane run in lanes (+ - * /, the
// square root, comparisons, the exact min and max, abs, negation; no fused
// multiply-add), and the C library and built-in functions are called lane
// by lane. A program that calls a callback of the user's runs one point at
// a time, so that its callbacks are called in the order that evaluating
// the points one by one calls them, and what one throws leaves the points
// before it written.
//
// The lanes are the widest of the processor's (8 with AVX-512F and DQ, 4
// with AVX, 2 with SSE2) up to what the parser allows, or 1 where the
// program calls the user's; the rows of the widths are in
// parser/machine_code.cpp. The code is one function of one argument, the
// run record of parser/array_run.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "parser/lowering/array_run.h"
#include "parser/x86/machine_code.h"

namespace MathUtils::detail {

struct Program;

// Results of at least this many points go around the caches (non-temporal
// stores): four second-level caches of results (the size the system
// tells, 4 MB where it tells none), at most the last level's size. A test
// may set another number.
std::size_t StreamingPoints();
void SetStreamingPoints(std::size_t points);
// The points whose results runs have stored around the caches so far, in
// this process: how a test knows that they did.
std::size_t StreamedPoints();
void CountStreamedPoints(std::size_t points);

// The loop over arrays that the x86 backend (parser/x86/machine_code.h) makes
// of a program, with the lanes chosen for it: machine code whose entry is
// the loop, which adds what only a loop has. Its code, size, frame and
// whether it calls back are those of any machine code.
class ArrayCode final : public MachineCode {
 public:
  // The code for the program in the most lanes of this processor up to
  // maxLanes, or one point at a time where the program calls a callback of
  // the user's (whose calls keep the order of the points) or a list
  // function not computed inline; null where it cannot be made.
  static std::unique_ptr<ArrayCode> Generate(const Program& program, int maxLanes);

  void Run(ArrayRun& run) const {
    if (run.Stream) CountStreamedPoints(run.Count);
    reinterpret_cast<void (*)(ArrayRun*)>(Entry())(&run);
  }

  int Lanes() const { return Shape.Lanes; }
  // The variables the program reads, in the order of ArrayRun::Sources.
  std::span<const double* const> Variables() const { return Shape.Variables; }
  // Whether a run may ask for its results to go around the caches.
  bool Streams() const { return Shape.Streams; }

 private:
  ArrayCode() = default;

  LoopShape Shape;
};

}  // namespace MathUtils::detail
