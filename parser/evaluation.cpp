// The interpreters behind Evaluate once a formula has compiled.
#include <memory>
#include <vector>

#include "parser/commands.h"
#include "parser/machine_code.h"
#include "parser/parser_base.h"
#include "parser/program.h"
#include "parser/tokens.h"

namespace MathUtils {

double ParserBase::ReturnConstant() { return ReadDouble(&Bytecode[2]); }

// The interpreter: one pass over the cells with a fixed stack and no
// allocation. The compiler guarantees slots 1 to 299 and well-formed entries.
double ParserBase::ParseCmdCode() {
  double stack[EvaluationStackSize];
  const Cell* cell = Bytecode.Data();
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
      case cdEnd: return stack[1];
      default: RaiseError(Messages::UnknownCode, -1);
    }
  }
}

// The first later evaluation: derives the program, then runs it.
double ParserBase::DeriveAndRun() {
  PrepareLaterRuns();
  return (this->*EvalEntry)();
}

void ParserBase::PrepareLaterRuns() {
  if (!DerivedProgram) DerivedProgram = std::make_unique_for_overwrite<detail::Program>();
  if (!DerivedProgram->Derive(Bytecode)) {
    EvalEntry = &ParserBase::ParseCmdCode;
    return;
  }
  const std::vector<detail::Instruction>& instructions = DerivedProgram->Instructions;
  ProgramBegin = instructions.data();
  ProgramEnd = instructions.data() + instructions.size();
  ProgramResult = DerivedProgram->Result;
  EvalEntry = DerivedProgram->Calls ? &ParserBase::RunProgram : &ParserBase::RunArithmetic;
  if (MachineCodeOn && detail::MachineCode::Supported()) {
    LaterRunsLeft = MachineCodeAfter;
    EvalEntry = &ParserBase::CountLaterRuns;
  }
}

double ParserBase::CountLaterRuns() {
  if (LaterRunsLeft-- > 0) return DerivedProgram->Calls ? RunProgram() : RunArithmetic();
  SwitchToMachineCode();
  return (this->*EvalEntry)();
}

// Where no code can be made, the program goes on being interpreted.
void ParserBase::SwitchToMachineCode() {
  Machine = detail::MachineCode::Generate(*DerivedProgram);
  if (Machine) {
    EvalEntry = &ParserBase::RunMachineCode;
    MachineEntry = Machine->Entry();
  } else
    EvalEntry = DerivedProgram->Calls ? &ParserBase::RunProgram : &ParserBase::RunArithmetic;
}

double ParserBase::RunMachineCode() { return MachineEntry(); }

}  // namespace MathUtils
