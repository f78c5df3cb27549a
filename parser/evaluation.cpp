#include <array>
#include <cmath>

#include "parser/parser_base.h"

namespace MathUtils {

namespace {

// Codes of the derived program beyond the binary operators it shares with
// the cells.
enum ProgramOp : std::int32_t {
  OpSquare = 32,   // Result = Left * Left, for "^" with the number 2
  OpLoad,          // Result = *Left
  OpCallUnary,     // Result = f(*Left)
  OpCallList,      // Result = f(the ArgCount values from Result on)
};

// Where the value of a stack slot lives while no instruction has needed
// it in the stack itself.
enum class Home : unsigned char { Stack, Variable, Number };

}  // namespace

double ParserBase::ReturnConstant() { return ReadDouble(&Bytecode[2]); }

// The interpreter: one pass over the cells with a fixed stack and no
// allocation. The compiler guarantees slots 1 to 299 and well-formed entries.
double ParserBase::ParseCmdCode() {
  double stack[EvaluationStackSize];
  const Cell* cell = Bytecode.data();
  for (;;) {
    const Cell slot = cell[0];
    double* const s = &stack[slot];
    switch (cell[1]) {
#define MATHUTILS_RUN_BINARY(code)         \
  case code:                                 \
    *s = ComputeBinary(code, s[0], s[1]);    \
    cell += BinaryEntryCells;                \
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
          *s = reinterpret_cast<ListCallback>(callback)(std::span<const double>(s, static_cast<std::size_t>(-argCount)));
        } else {
          // Only one-argument and variadic functions can be defined.
          RaiseError("internal error:  Unsupported number of arguments in function call.", -1);
        }
        cell += FunctionEntryCells;
        break;
      }
      case cdPostfixOp:
        *s = reinterpret_cast<UnaryCallback>(ReadAddress(cell + 2))(*s);
        cell += CallEntryCells;
        break;
      case cdEnd:
        return stack[1];
      default:
        RaiseError("internal error in ParserBase::ParseCmdCode(...) :  unexpected or unknown CmdCode", -1);
    }
  }
}

// Derives the program from the cells. Loads of variables and numbers emit
// nothing: the instruction that consumes a slot reads it where it lives.
// Variables still pending are copied to the stack before any callback runs,
// since a callback may change them, so every value is read when the cells
// would read it. Returns false for cells the derivation does not know; the
// cell interpreter then runs them and reports them.
bool ParserBase::DeriveProgram() {
  std::array<Home, EvaluationStackSize> home{};
  std::array<const double*, EvaluationStackSize> variable{};
  std::array<double, EvaluationStackSize> number{};

  std::size_t entries = 0;
  for (std::size_t i = 0; i + 1 < Bytecode.size() && Bytecode[i + 1] != cdEnd; ++entries) {
    const Cell code = Bytecode[i + 1];
    const Command* command = FindCommand(code);
    if (!command || command->Cells == 0) return false;
    i += static_cast<std::size_t>(command->Cells);
  }
  Program.clear();
  Program.reserve(2 * entries + 1);
  ProgramCalls = false;  // each entry adds at most itself and one load

  auto source = [&](int slot, Instruction& instruction, int which) -> const double* {
    switch (home[slot]) {
      case Home::Variable: return variable[slot];
      case Home::Number: instruction.Constants[which] = number[slot]; return &instruction.Constants[which];
      default: return &ProgramStack[slot];
    }
  };
  auto emit = [&](std::int32_t op, int slot) -> Instruction& {
    Instruction& instruction = Program.emplace_back();
    instruction.Op = op;
    instruction.Result = &ProgramStack[slot];
    return instruction;
  };
  auto materialize = [&](int slot) {
    if (home[slot] == Home::Stack) return;
    Instruction& load = emit(OpLoad, slot);
    load.Left = source(slot, load, 0);
    home[slot] = Home::Stack;
  };
  auto settleVariablesBelow = [&](int slot) {
    for (int k = 1; k < slot; ++k)
      if (home[k] == Home::Variable) materialize(k);
  };
  auto validSlots = [](int first, int count) { return first >= 1 && count >= 0 && first + count <= EvaluationStackSize; };

  for (const Cell* cell = Bytecode.data();; ) {
    const int slot = cell[0];
    const Cell code = cell[1];
    if (code == cdEnd) break;
    if (IsBinaryOperator(code)) {
      if (!validSlots(slot, 2)) return false;
      // A power calls the C library unless it is a square.
      const bool square = code == cdPow && home[slot + 1] == Home::Number && number[slot + 1] == 2;
      ProgramCalls = ProgramCalls || (code == cdPow && !square);
      Instruction& instruction = emit(square ? OpSquare : code, slot);
      instruction.Left = source(slot, instruction, 0);
      if (!square) instruction.Right = source(slot + 1, instruction, 1);
      home[slot] = Home::Stack;
      cell += BinaryEntryCells;
    } else if (code == cdVariable || code == cdValue) {
      if (!validSlots(slot, 1)) return false;
      if (code == cdVariable) {
        home[slot] = Home::Variable;
        variable[slot] = static_cast<const double*>(ReadAddress(cell + 2));
      } else {
        home[slot] = Home::Number;
        number[slot] = ReadDouble(cell + 2);
      }
      cell += code == cdVariable ? VariableEntryCells : ValueEntryCells;
    } else if (code == cdPostfixOp || (code == cdFunction && cell[2] == 1)) {
      if (!validSlots(slot, 1)) return false;
      settleVariablesBelow(slot);
      ProgramCalls = true;
      Instruction& call = emit(OpCallUnary, slot);
      call.Left = source(slot, call, 0);
      call.Callback = ReadAddress(cell + (code == cdFunction ? 3 : 2));
      home[slot] = Home::Stack;
      cell += code == cdFunction ? FunctionEntryCells : CallEntryCells;
    } else if (code == cdFunction && cell[2] <= 0) {
      const int count = -cell[2];
      if (!validSlots(slot, count)) return false;
      settleVariablesBelow(slot);
      for (int k = slot; k < slot + count; ++k) materialize(k);
      ProgramCalls = true;
      Instruction& call = emit(OpCallList, slot);
      call.ArgCount = count;
      call.Callback = ReadAddress(cell + 3);
      cell += FunctionEntryCells;
    } else {
      return false;
    }
  }
  if (home[1] == Home::Number) materialize(1);
  ProgramResult = home[1] == Home::Variable ? variable[1] : &ProgramStack[1];
  return true;
}

// Runs the program. The variant without calls needs no registers kept
// across calls, which makes it markedly faster for plain arithmetic.
template <bool WithCalls>
double ParserBase::Run() {
  for (const Instruction& i : Program) {
    switch (i.Op) {
// A power calls the C library: only the variant with calls runs it.
#define MATHUTILS_RUN_BINARY(code)                                         \
  case code:                                                               \
    if constexpr (code != cdPow || WithCalls) *i.Result = ComputeBinary(code, *i.Left, *i.Right); \
    break;
      MATHUTILS_FOR_EACH_BINARY_OPERATOR(MATHUTILS_RUN_BINARY)
#undef MATHUTILS_RUN_BINARY
      case OpSquare: *i.Result = *i.Left * *i.Left; break;
      case OpLoad: *i.Result = *i.Left; break;
      case OpCallUnary:
        if constexpr (WithCalls) *i.Result = reinterpret_cast<UnaryCallback>(i.Callback)(*i.Left);
        break;
      case OpCallList:
        if constexpr (WithCalls)
          *i.Result = reinterpret_cast<ListCallback>(i.Callback)(
              std::span<const double>(i.Result, static_cast<std::size_t>(i.ArgCount)));
        break;
    }
  }
  return *ProgramResult;
}

double ParserBase::RunProgram() { return Run<true>(); }
double ParserBase::RunArithmetic() { return Run<false>(); }

}  // namespace MathUtils
