// The interpreters behind Evaluate once a formula has compiled, and the
// moves between them: from the cells to the derived program, and from the
// program to machine code.
#include <memory>
#include <mutex>

#include "parser/core/commands.h"
#include "parser/core/errors.h"
#include "parser/engine/compiled_formula.h"
#include "parser/engine/engine.h"
#include "parser/program/program.h"
#include "parser/x86/machine_code.h"

namespace MathUtils::detail {

double Engine::ReturnConstant() const { return ReadDouble(&Current->Cells[2]); }

namespace {

// A function entry's call: of one argument, or of -argCount arguments from
// the slot on. Only these can be defined: false for any other count.
bool CallFunction(Cell argCount, void* callback, void* context, bool withContext, double* slot) {
  const std::span<const double> arguments(slot, static_cast<std::size_t>(argCount <= 0 ? -argCount : 1));
  if (argCount == 1)
    *slot = withContext ? reinterpret_cast<UnaryContextCallback>(callback)(context, *slot)
                        : reinterpret_cast<UnaryCallback>(callback)(*slot);
  else if (argCount <= 0)
    *slot = withContext ? reinterpret_cast<ListContextCallback>(callback)(context, arguments)
                        : reinterpret_cast<ListCallback>(callback)(arguments);
  return argCount <= 1;
}

}  // namespace

// The cell interpreter: one pass over the cells with a fixed stack and no
// allocation. The compiler guarantees slots 1 to 299 and well-formed
// entries; cells of a subclass's own that read a slot no entry wrote read
// 0 there, never a value of another run.
double Engine::RunCells(const Cell* cells, PowFunction raise) {
  double stack[EvaluationStackSize] = {};
  const CallbackScope scope;
  const Cell* cell = cells;
  for (;;) {
    const Cell slot = cell[0];
    double* const s = &stack[slot];
    switch (cell[1]) {
#define MATHUTILS_RUN_BINARY(code, ...)          \
  case code:                                     \
    *s = ComputeBinary(code, s[0], s[1], raise); \
    cell += BinaryEntryCells;                    \
    break;
      MATHUTILS_BINARY_OPERATIONS(MATHUTILS_RUN_BINARY)
#undef MATHUTILS_RUN_BINARY
      case cdVariable:
        *s = *static_cast<const double*>(ReadAddress(cell + 2));
        cell += VariableEntryCells;
        break;
      case cdValue:
        *s = ReadDouble(cell + 2);
        cell += ValueEntryCells;
        break;
      case cdFunction:
      case cdContextFunction: {
        const bool withContext = cell[1] == cdContextFunction;
        if (!CallFunction(cell[2], ReadAddress(cell + 3),
                          withContext ? ReadAddress(cell + 3 + AddressCells) : nullptr, withContext, s))
          RaiseError(Messages::UnsupportedCallArgumentCount, -1);
        cell += withContext ? ContextFunctionEntryCells : FunctionEntryCells;
        break;
      }
      case cdPostfixOp:
        *s = reinterpret_cast<UnaryCallback>(ReadAddress(cell + 2))(*s);
        cell += CallEntryCells;
        break;
      case cdContextOp:
        *s = reinterpret_cast<UnaryContextCallback>(ReadAddress(cell + 2))(
            ReadAddress(cell + 2 + AddressCells), *s);
        cell += ContextCallEntryCells;
        break;
      case cdEnd: return stack[1];
      default: RaiseError(Messages::UnknownCode, -1);
    }
  }
}

double Engine::EnterConstant(Engine& engine) { return engine.ReturnConstant(); }

// The cell interpreter reads the cells of the compiled formula that a
// callback may pull away: it keeps it alive through its scope.
double Engine::EnterCells(Engine& engine) { return engine.RunCurrentCells(); }

// The first later evaluation: derives the program, then runs it.
double Engine::DeriveAndRun(Engine& engine) {
  engine.PrepareLaterRuns();
  return engine.Evaluate();
}

// Each run has a frame of its own on the machine stack. A program that
// calls may call a callback of the user's, which may pull the compiled
// formula away from the parser: the scope keeps it alive until the run ends.
//
// The routines that hold a scope or a frame run without the address
// sanitizer's instrumentation: a thread cancelled inside a callback unwinds
// through them, and the sanitizer of g++ 12 trips over the red zones that
// such an unwinding leaves behind when an instrumented cleanup runs next
// (the scope's). The program reads and writes only slots 1 to 299, which
// Derive checks.
MATHUTILS_FRAME_UNSANITIZED double Engine::RunProgram(Engine& engine) {
  Frame frame;
  const CallbackScope scope;
  return detail::RunProgram(engine.Current->Derived, frame);
}

MATHUTILS_FRAME_UNSANITIZED double Engine::RunArithmetic(Engine& engine) {
  Frame frame;
  return detail::RunArithmetic(engine.Current->Derived, frame);
}

// Machine code that calls callbacks of the user's runs inside a scope, as
// the program does; code that calls none is entered directly.
MATHUTILS_FRAME_UNSANITIZED double Engine::RunMachineCodeCallingBack(Engine& engine) {
  const CallbackScope scope;
  return reinterpret_cast<EvalRoutine>(engine.Current->Machine->Entry())(engine);
}

double Engine::CountLaterRuns(Engine& engine) {
  CompiledFormula& compiled = *engine.Current;
  const std::int32_t left = compiled.LaterRunsLeft.load(std::memory_order_relaxed);
  if (left > 0) {
    compiled.LaterRunsLeft.store(left - 1, std::memory_order_relaxed);
    return compiled.Derived.Calls ? RunProgram(engine) : RunArithmetic(engine);
  }
  engine.SwitchToMachineCode();
  return engine.Evaluate();
}

void Engine::EnterRun(Tier tier) {
  switch (tier) {
    case Tier::Cells: Enter(tier, &Engine::EnterCells); return;
    case Tier::Program: Enter(tier, &Engine::RunProgram); return;
    case Tier::Arithmetic: Enter(tier, &Engine::RunArithmetic); return;
    case Tier::Counting: Enter(tier, &Engine::CountLaterRuns); return;
    case Tier::MachineCode:
      if (Current->Machine->CallsBack())
        Enter(tier, &Engine::RunMachineCodeCallingBack);
      else
        Enter(tier, reinterpret_cast<EvalRoutine>(Current->Machine->Entry()));
      return;
    default: return;
  }
}

// The first thread to get here derives; the others wait for it and find
// the tier it chose.
void Engine::PrepareLaterRuns() {
  const std::lock_guard<std::mutex> lock(Preparing);
  if (CurrentTier() != Tier::Derive) return;
  CompiledFormula& compiled = *Current;
  if (!compiled.Derived.Derive(compiled.Cells)) {
    EnterRun(Tier::Cells);
    return;
  }
  if (Settings.MachineCodeOn && MachineCode::Supported()) {
    compiled.LaterRunsLeft.store(Settings.MachineCodeAfter, std::memory_order_relaxed);
    compiled.ArrayPointsLeft.store(Settings.MachineCodeAfter == 0 ? 0 : ArrayPointsBeforeMachineCode,
                                   std::memory_order_relaxed);
    EnterRun(Tier::Counting);
    return;
  }
  EnterRun(compiled.Derived.Calls ? Tier::Program : Tier::Arithmetic);
}

// Where no code can be made, the program goes on being interpreted. The
// code is complete and executable before any thread can enter it.
void Engine::SwitchToMachineCode() {
  const std::lock_guard<std::mutex> lock(Preparing);
  if (CurrentTier() != Tier::Counting) return;
  CompiledFormula& compiled = *Current;
  compiled.Machine = MachineCode::Generate(compiled.Derived);
  if (compiled.Machine)
    EnterRun(Tier::MachineCode);
  else
    EnterRun(compiled.Derived.Calls ? Tier::Program : Tier::Arithmetic);
}

// A query: before the first later evaluation the program is derived here
// for the listing alone, and the tier stays as it was.
std::string Engine::ProgramListing() const {
  const auto nameOf = [this](const void* address, const void* context) { return NameOf(address, context); };
  switch (CurrentTier()) {
    case Tier::Derive: {
      Program program;
      return program.Derive(Current->Cells) ? DisassembleProgram(program, nameOf) : "";
    }
    case Tier::Program:
    case Tier::Arithmetic:
    case Tier::Counting:
    case Tier::MachineCode: return DisassembleProgram(Current->Derived, nameOf);
    default: return "";
  }
}

}  // namespace MathUtils::detail
