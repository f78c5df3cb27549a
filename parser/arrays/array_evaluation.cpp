// Evaluation over arrays: the loops over the points, one per tier. Each
// point's value is the one Evaluate gives with the listed variables set to
// that point's values; the variables themselves are never written.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "parser/arrays/array_threads.h"
#include "parser/core/errors.h"
#include "parser/engine/compiled_formula.h"
#include "parser/engine/engine.h"
#include "parser/front/array_point.h"
#include "parser/math/math_library.h"
#include "parser/program/program.h"
#include "parser/program/program_blocks.h"
#include "parser/x86/array_code.h"

namespace MathUtils::detail {

namespace {

const VariableArray* Listed(std::span<const VariableArray> variables, const void* address) {
  for (const VariableArray& variable : variables)
    if (variable.Variable == address) return &variable;
  return nullptr;
}

// The program with every read of a listed variable turned into a read of
// the point's value.
class RedirectedProgram {
 public:
  RedirectedProgram(const detail::Program& program, const detail::ArrayPoint& point)
      : Copy(program), Point(point) {
    for (std::size_t i = 0; i < Copy.Instructions.size(); ++i) {
      detail::Instruction& instruction = Copy.Instructions[i];
      const detail::Instruction& original = program.Instructions[i];
      Redirect(original, instruction.Left);
      Redirect(original, instruction.Right);
    }
    Redirect(detail::Instruction{}, Copy.Result);
  }

  const detail::Program& Get() const { return Copy; }

 private:
  void Redirect(const detail::Instruction& original, detail::Operand& operand) {
    if (operand.IsSlot() || original.IsConstant(operand)) return;
    if (const double* held = Point.Find(operand.Address())) operand = detail::Operand::At(held);
  }

  detail::Program Copy;
  const detail::ArrayPoint& Point;
};

// The cells with every read of a listed variable turned into a read of the
// point's value.
std::vector<Cell> RedirectedCells(std::span<const Cell> cells, const detail::ArrayPoint& point) {
  std::vector<Cell> copy(cells.begin(), cells.end());
  detail::MoveVariableAddresses(copy, [&point](void* address) -> void* {
    const double* held = point.Find(address);
    return held ? const_cast<double*>(held) : address;
  });
  return copy;
}

// Whether any two arrays name the same variable.
bool ListsAVariableTwice(std::span<const VariableArray> variables) {
  Scratch<const double*> addresses(variables.size());
  const auto end = std::transform(variables.begin(), variables.end(), addresses.Data(),
                                  [](const VariableArray& variable) { return variable.Variable; });
  std::sort(addresses.Data(), end, std::less<const double*>());
  return std::adjacent_find(addresses.Data(), end) != end;
}

// Refused before anything runs, and without sending the parser back to
// compiling: other threads may be evaluating it.
void CheckVariableArrays(std::span<const VariableArray> variables, int threads) {
  for (const VariableArray& variable : variables)
    if (!variable.Variable || !variable.Values) RaiseArgumentError(Messages::NullVariableArray);
  if (ListsAVariableTwice(variables)) RaiseArgumentError(Messages::VariableListedTwice);
  if (threads < 0) RaiseArgumentError(Messages::NegativeThreadCount);
}

}  // namespace

// The counter is the caller's own where given, so that it is right however
// the call ends, with no handler of its own on the way out: a thread
// cancelled inside a callback unwinds through here (see program.h).
MATHUTILS_FRAME_UNSANITIZED void Engine::EvaluateArrays(std::span<const VariableArray> variables,
                                                        std::span<double> results, std::size_t* written,
                                                        int threads) {
  std::size_t uncounted = 0;
  std::size_t& done = written ? *written : uncounted;
  done = 0;
  CheckVariableArrays(variables, threads);
  if (!results.empty()) ArraysFrom(0, variables, results, done, threads);
}

// Only the tiers that run blocks of points spread over threads, only for
// a formula that calls no callback of the user's (those run on the
// calling thread, point by point in order, as Evaluate calls them), and
// only where the points are enough: a short call runs as on one thread.
MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysFrom(std::size_t first,
                                                    std::span<const VariableArray> variables,
                                                    std::span<double> results, std::size_t& written,
                                                    int threads) {
  switch (CurrentTier()) {
    case detail::Tier::Compile: ArraysCompiling(variables, results, written, threads); return;
    case detail::Tier::Derive:
      PrepareLaterRuns();
      ArraysFrom(first, variables, results, written, threads);
      return;
    case detail::Tier::Constant:
      std::fill(results.begin() + static_cast<std::ptrdiff_t>(first), results.end(), ReturnConstant());
      written = results.size();
      return;
    case detail::Tier::Cells: ArraysByCells(first, variables, results, written); return;
    default:
      if (threads != 1 && !Current->Derived.CallsBack &&
          detail::MaySpread(results.size() - first, Settings.PointsPerThread))
        ArraysOnThreads(first, variables, results, written, threads);
      else if (!ArraysByMachineCode(first, variables, results, written))
        ArraysByProgram(first, variables, results, written);
      return;
  }
}

// The first point compiles, as the first Evaluate would at that point,
// reading the listed variables there. Where a callback changed the parser
// meanwhile, the rest of the points run on what the compilation began
// with, as they would on a parser that had compiled before.
MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysCompiling(std::span<const VariableArray> variables,
                                                         std::span<double> results, std::size_t& written,
                                                         int threads) {
  detail::ArrayPoint point(variables);
  point.MoveTo(0);
  std::vector<Cell> notInstalled;
  results[0] = Compile(&point, &notInstalled);
  written = 1;
  if (results.size() == 1) return;
  if (notInstalled.empty())
    ArraysFrom(1, variables, results, written, threads);
  else
    ArraysOverCells(notInstalled.data(), PowerFunctionOf(Settings.Library), point, 1, results, written);
}

MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysByCells(std::size_t first,
                                                       std::span<const VariableArray> variables,
                                                       std::span<double> results, std::size_t& written) {
  detail::ArrayPoint point(variables);
  const std::vector<Cell> cells = RedirectedCells(Current->Cells, point);
  ArraysOverCells(cells.data(), Current->Derived.Raise, point, first, results, written);
}

// Cells whose variable entries read the point. A callback may pull the
// compiled formula away from the parser: the scope keeps the callables it
// calls alive until the loop ends.
MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysOverCells(const Cell* cells, PowFunction raise,
                                                         detail::ArrayPoint& point, std::size_t first,
                                                         std::span<double> results, std::size_t& written) {
  const detail::CallbackScope scope;
  for (std::size_t i = first; i < results.size(); ++i) {
    point.MoveTo(i);
    results[i] = RunCells(cells, raise);
    written = i + 1;
  }
}

// A program that calls no callback of the user's runs over blocks of
// points. One that does runs point by point, so that its callbacks are
// called in the order Evaluate calls them; a callback may pull the compiled
// formula away from the parser: the scope keeps it alive until the loop
// ends.
MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysByProgram(std::size_t first,
                                                         std::span<const VariableArray> variables,
                                                         std::span<double> results, std::size_t& written) {
  if (!Current->Derived.CallsBack) {
    detail::RunBlocks(Current->Derived, variables, results, first, written);
    return;
  }
  const detail::CallbackScope scope;
  detail::ArrayPoint point(variables);
  RedirectedProgram program(Current->Derived, point);
  const bool calls = program.Get().Calls;
  detail::Frame frame;
  for (std::size_t i = first; i < results.size(); ++i) {
    point.MoveTo(i);
    results[i] =
        calls ? detail::RunProgram(program.Get(), frame) : detail::RunArithmetic(program.Get(), frame);
    written = i + 1;
  }
}

namespace {

using detail::Scratch;

// One evaluation over arrays by the machine code: the whole groups of lanes
// in place, the points before the first aligned group (where the results
// go around the caches) and after the last one as one group each, padded
// with copies of their last point. Code with lanes calls no callback of the
// user's, so the padding calls nothing a caller sees.
class ArrayCodeRun {
 public:
  // callPoints: the points of the whole call, which decide whether the
  // results go around the caches (those of this run where 0).
  ArrayCodeRun(const detail::ArrayCode& code, std::span<const VariableArray> variables,
               std::span<double> results, std::size_t callPoints = 0)
      : Code(code),
        CallPoints(callPoints),
        Variables(variables),
        Results(results),
        Lanes(static_cast<std::size_t>(code.Lanes())),
        VariableCount(code.Variables().size()),
        Listed(code.Variables().size()),
        Sources(code.Variables().size()),
        Copies(Lanes * code.Variables().size()),
        PaddedValues(Lanes * (code.Variables().size() + 1)) {
    for (std::size_t k = 0; k < code.Variables().size(); ++k) {
      const double* address = code.Variables()[k];
      Listed[k] = detail::Listed(variables, address);
      // Not listed: one copy per lane, or, one point at a time, the
      // variable itself, which a callback may change between points as it
      // may between evaluations.
      if (Listed[k]) continue;
      if (Lanes == 1) {
        Sources[k] = {address, sizeof(double)};
      } else {
        std::fill_n(&Copies[Lanes * k], Lanes, *address);
        Sources[k] = {&Copies[Lanes * k], Lanes * sizeof(double)};
      }
    }
  }

  // Runs the points from first on; written counts the results written.
  void From(std::size_t first, std::size_t& written) {
    const std::size_t count = Results.size() - first;
    const bool stream = Code.Streams() && (CallPoints ? CallPoints : count) >= detail::StreamingPoints();
    const std::size_t head = stream ? std::min(count, PointsBeforeAligned(first)) : 0;
    if (head > 0) RunPadded(first, head);
    const std::size_t whole = (count - head) / Lanes * Lanes;
    if (whole > 0) RunWhole(first + head, whole, stream && head < Lanes, written);
    written = first + head + whole;
    if (head + whole < count) RunPadded(first + head + whole, count - head - whole);
    written = Results.size();
  }

 private:
  std::size_t PointsBeforeAligned(std::size_t first) const {
    const auto address = reinterpret_cast<std::uintptr_t>(Results.data() + first);
    const std::uintptr_t vector = 8 * Lanes;
    if (address % sizeof(double) != 0) return Lanes;  // never aligned: no streaming
    return (vector - address % vector) % vector / sizeof(double);
  }

  void RunWhole(std::size_t first, std::size_t count, bool stream, std::size_t& written) {
    for (std::size_t k = 0; k < VariableCount; ++k)
      if (Listed[k]) Sources[k] = {Listed[k]->Values + first, 0};
    detail::ArrayRun run{Sources.Data(), Results.data() + first, count, 0, stream ? 1u : 0u};
    try {
      Code.Run(run);
    } catch (...) {
      written = first + run.DoneBytes / sizeof(double);
      throw;
    }
  }

  void RunPadded(std::size_t first, std::size_t count) {
    for (std::size_t k = 0; k < VariableCount; ++k) {
      if (!Listed[k]) continue;
      double* lanes = &PaddedValues[Lanes * k];
      for (std::size_t j = 0; j < Lanes; ++j) lanes[j] = Listed[k]->Values[first + std::min(j, count - 1)];
      Sources[k] = {lanes, 0};
    }
    double* out = &PaddedValues[Lanes * VariableCount];
    detail::ArrayRun run{Sources.Data(), out, Lanes, 0, 0};
    Code.Run(run);
    std::copy_n(out, count, Results.begin() + static_cast<std::ptrdiff_t>(first));
  }

  const detail::ArrayCode& Code;
  std::size_t CallPoints;
  std::span<const VariableArray> Variables;
  std::span<double> Results;
  std::size_t Lanes;
  std::size_t VariableCount;
  Scratch<const VariableArray*> Listed;
  Scratch<detail::ArraySource> Sources;
  Scratch<double> Copies;
  Scratch<double> PaddedValues;
};

}  // namespace

MATHUTILS_FRAME_UNSANITIZED bool Engine::ArraysByMachineCode(std::size_t first,
                                                             std::span<const VariableArray> variables,
                                                             std::span<double> results,
                                                             std::size_t& written) {
  const detail::ArrayCode* code = ArrayCodeFor(results.size() - first);
  if (!code) return false;
  const detail::CallbackScope scope;
  ArrayCodeRun(*code, variables, results).From(first, written);
  return true;
}

// The points in chunks over threads (parser/arrays/array_threads.h), each chunk
// run by the machine code or the program's blocks, whichever the whole
// call would have run; no callback of the user's is called. A cancelled
// calling thread unwinds from the end of the spread through here.
MATHUTILS_FRAME_UNSANITIZED void Engine::ArraysOnThreads(std::size_t first,
                                                         std::span<const VariableArray> variables,
                                                         std::span<double> results, std::size_t& written,
                                                         int threads) {
  const detail::ArrayCode* code = ArrayCodeFor(results.size() - first);
  const detail::Program& program = Current->Derived;
  const auto runChunk = [&](std::size_t from, std::size_t to, std::size_t& done) {
    const std::span<double> chunk = results.first(to);
    if (code)
      ArrayCodeRun(*code, variables, chunk, results.size()).From(from, done);
    else
      detail::RunBlocks(program, variables, chunk, from, done);
  };
  detail::SpreadOverThreads(first, results.size(), threads, Settings.PointsPerThread, runChunk, written);
}

// The machine code over arrays once evaluations over arrays have run
// enough points to repay it; made once, by the first thread to get here.
const detail::ArrayCode* Engine::ArrayCodeFor(std::size_t points) {
  detail::CompiledFormula& compiled = *Current;
  if (compiled.ArraysMade.load(std::memory_order_acquire)) return compiled.Arrays.get();
  if (!Settings.MachineCodeOn || !detail::MachineCode::Supported()) return nullptr;
  const auto count =
      static_cast<std::int32_t>(std::min<std::size_t>(points, detail::ArrayPointsBeforeMachineCode));
  if (compiled.ArrayPointsLeft.fetch_sub(count, std::memory_order_relaxed) > count) return nullptr;
  const std::lock_guard<std::mutex> lock(Preparing);
  if (!compiled.ArraysMade.load(std::memory_order_relaxed)) {
    compiled.Arrays = detail::ArrayCode::Generate(compiled.Derived, Settings.ArrayLanes);
    compiled.ArraysMade.store(true, std::memory_order_release);
  }
  return compiled.Arrays.get();
}

int Engine::ArrayCodeLanes() const {
  if (!Current || !Current->ArraysMade.load(std::memory_order_acquire) || !Current->Arrays) return 0;
  return Current->Arrays->Lanes();
}

}  // namespace MathUtils::detail
