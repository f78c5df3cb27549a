// The interpreters behind Evaluate once a formula has compiled, and the
// moves between them: from the cells to the derived program, and from the
// program to machine code.
#include <memory>
#include <mutex>

#include "parser/commands.h"
#include "parser/compiled_formula.h"
#include "parser/machine_code.h"
#include "parser/parser_base.h"
#include "parser/program.h"
#include "parser/tokens.h"


namespace MathUtils {

double ParserBase::ReturnConstant() { return ReadDouble(&Current->Cells[2]); }

// The interpreter: one pass over the cells with a fixed stack and no
// allocation. The compiler guarantees slots 1 to 299 and well-formed
// entries; cells of a subclass's own that read a slot no entry wrote read
// 0 there, never a value of another run.
double ParserBase::ParseCmdCode() { return RunCells(Current->Cells.Data()); }

double ParserBase::RunCells(const Cell* cells) {
  double stack[EvaluationStackSize] = {};
  const detail::CallbackScope scope;
  const Cell* cell = cells;
  for (;;) {
    const Cell slot = cell[0];
    double* const s = &stack[slot];
    switch (cell[1]) {
#define MATHUTILS_RUN_BINARY(code)        \
  case code:                              \
    *s = ComputeBinary(code, s[0], s[1]); \
    cell += BinaryEntryCells;             \
    break;
      MATHUTILS_FOR_EACH_BINARY_OPERATOR(MATHUTILS_RUN_BINARY)
#undef MATHUTILS_RUN_BINARY
      case cdVariable:
        *s = *static_cast<const double*>(ReadAddress(cell + 2));
        cell += VariableEntryCells;
        break;
      case cdValue:
        *s = ReadDouble(cell + 2);
        cell += ValueEntryCells;
        break;
      case cdFunction: {
        const Cell argCount = cell[2];
        void* callback = ReadAddress(cell + 3);
        if (argCount == 1) {
          *s = reinterpret_cast<UnaryCallback>(callback)(*s);
        } else if (argCount <= 0) {
          *s = reinterpret_cast<ListCallback>(callback)(
              std::span<const double>(s, static_cast<std::size_t>(-argCount)));
        } else {
          // Only one-argument and variadic functions can be defined.
          RaiseError(Messages::UnsupportedCallArgumentCount, -1);
        }
        cell += FunctionEntryCells;
        break;
      }
      case cdPostfixOp:
        *s = reinterpret_cast<UnaryCallback>(ReadAddress(cell + 2))(*s);
        cell += CallEntryCells;
        break;
      case cdContextFunction: {
        const Cell argCount = cell[2];
        void* callback = ReadAddress(cell + 3);
        void* context = ReadAddress(cell + 3 + AddressCells);
        if (argCount == 1) {
          *s = reinterpret_cast<UnaryContextCallback>(callback)(context, *s);
        } else if (argCount <= 0) {
          *s = reinterpret_cast<ListContextCallback>(callback)(
              context, std::span<const double>(s, static_cast<std::size_t>(-argCount)));
        } else {
          RaiseError(Messages::UnsupportedCallArgumentCount, -1);
        }
        cell += ContextFunctionEntryCells;
        break;
      }
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

double ParserBase::EnterCompile(ParserBase& parser) { return parser.CompileFormula(); }
double ParserBase::EnterConstant(ParserBase& parser) { return parser.ReturnConstant(); }

// The cell interpreter reads the cells of the compiled formula that a
// callback may pull away: it keeps it alive through its scope.
double ParserBase::EnterCells(ParserBase& parser) { return parser.ParseCmdCode(); }

// The first later evaluation: derives the program, then runs it.
double ParserBase::DeriveAndRun(ParserBase& parser) {
  parser.PrepareLaterRuns();
  return parser.Evaluate();
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
MATHUTILS_FRAME_UNSANITIZED double ParserBase::RunProgram(ParserBase& parser) {
  detail::Frame frame;
  const detail::CallbackScope scope;
  return detail::RunProgram(parser.Current->Derived, frame);
}

MATHUTILS_FRAME_UNSANITIZED double ParserBase::RunArithmetic(ParserBase& parser) {
  detail::Frame frame;
  return detail::RunArithmetic(parser.Current->Derived, frame);
}

// Machine code that calls callbacks of the user's runs inside a scope, as
// the program does; code that calls none is entered directly.
MATHUTILS_FRAME_UNSANITIZED double ParserBase::RunMachineCodeCallingBack(ParserBase& parser) {
  const detail::CallbackScope scope;
  return reinterpret_cast<EvalRoutine>(parser.Current->Machine->Entry())(parser);
}

double ParserBase::CountLaterRuns(ParserBase& parser) {
  detail::CompiledFormula& compiled = *parser.Current;
  const std::int32_t left = compiled.LaterRunsLeft.load(std::memory_order_relaxed);
  if (left > 0) {
    compiled.LaterRunsLeft.store(left - 1, std::memory_order_relaxed);
    return compiled.Derived.Calls ? RunProgram(parser) : RunArithmetic(parser);
  }
  parser.SwitchToMachineCode();
  return parser.Evaluate();
}

void ParserBase::EnterRun(detail::Tier tier) {
  switch (tier) {
    case detail::Tier::Cells: Enter(tier, &ParserBase::EnterCells); return;
    case detail::Tier::Program: Enter(tier, &ParserBase::RunProgram); return;
    case detail::Tier::Arithmetic: Enter(tier, &ParserBase::RunArithmetic); return;
    case detail::Tier::Counting: Enter(tier, &ParserBase::CountLaterRuns); return;
    case detail::Tier::MachineCode:
      if (Current->Machine->CallsBack())
        Enter(tier, &ParserBase::RunMachineCodeCallingBack);
      else
        Enter(tier, reinterpret_cast<EvalRoutine>(Current->Machine->Entry()));
      return;
    default: return;
  }
}

// The first thread to get here derives; the others wait for it and find
// the tier it chose.
void ParserBase::PrepareLaterRuns() {
  const std::lock_guard<std::mutex> lock(Preparing);
  if (CurrentTier() != detail::Tier::Derive) return;
  detail::CompiledFormula& compiled = *Current;
  if (!compiled.Derived.Derive(compiled.Cells)) {
    EnterRun(detail::Tier::Cells);
    return;
  }
  if (MachineCodeOn && detail::MachineCode::Supported()) {
    compiled.LaterRunsLeft.store(MachineCodeAfter, std::memory_order_relaxed);
    compiled.ArrayPointsLeft.store(MachineCodeAfter == 0 ? 0 : detail::ArrayPointsBeforeMachineCode,
                                   std::memory_order_relaxed);
    EnterRun(detail::Tier::Counting);
    return;
  }
  EnterRun(compiled.Derived.Calls ? detail::Tier::Program : detail::Tier::Arithmetic);
}

// Where no code can be made, the program goes on being interpreted. The
// code is complete and executable before any thread can enter it.
void ParserBase::SwitchToMachineCode() {
  const std::lock_guard<std::mutex> lock(Preparing);
  if (CurrentTier() != detail::Tier::Counting) return;
  detail::CompiledFormula& compiled = *Current;
  compiled.Machine = detail::MachineCode::Generate(compiled.Derived);
  if (compiled.Machine)
    EnterRun(detail::Tier::MachineCode);
  else
    EnterRun(compiled.Derived.Calls ? detail::Tier::Program : detail::Tier::Arithmetic);
}

}  // namespace MathUtils
