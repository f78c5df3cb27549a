#include "parser/program/program.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "parser/core/commands.h"
#include "parser/math/builtins.h"

namespace MathUtils::detail {

namespace {

// Where the value of a stack slot lives while no instruction has needed
// it in the stack itself.
enum class Home : unsigned char { Stack, Variable, Number };

// Builds the instructions entry by entry, one method per entry shape, and
// keeps track of where each slot's value lives.
class ProgramBuilder {
 public:
  explicit ProgramBuilder(Program& program) : Out(program) {}

  // Adds the entry; false for an entry the program cannot express.
  bool Add(const Cell* entry) {
    const int slot = entry[0];
    const Cell code = entry[1];
    if (IsBinaryOperator(code)) return Binary(slot, code);
    switch (code) {
      case cdVariable: return Variable(slot, static_cast<const double*>(ReadAddress(entry + 2)));
      case cdValue: return Number(slot, ReadDouble(entry + 2));
      case cdPostfixOp: return UnaryCall(slot, {ReadAddress(entry + 2), nullptr, false});
      case cdFunction: return FunctionCall(slot, entry[2], {ReadAddress(entry + 3), nullptr, false});
      case cdContextOp:
        return UnaryCall(slot, {ReadAddress(entry + 2), ReadAddress(entry + 2 + AddressCells), true});
      case cdContextFunction:
        return FunctionCall(slot, entry[2],
                            {ReadAddress(entry + 3), ReadAddress(entry + 3 + AddressCells), true});
      default: return false;
    }
  }

  // False when no entry left a value in slot 1.
  bool Finish() {
    if (!Written[1]) return false;
    if (Homes[1] == Home::Number) Materialize(1);
    Out.Result = Homes[1] == Home::Variable ? Operand::At(Variables[1]) : Operand::OfSlot(1);
    return true;
  }

 private:
  bool Binary(int slot, Cell code) {
    if (!ValidSlots(slot, 2) || !WrittenSlots(slot, 2)) return false;
    const bool square = code == cdPow && Homes[slot + 1] == Home::Number && Numbers[slot + 1] == 2;
    if (code == cdPow && !square && !NothingAbove(slot + 2)) return false;
    Out.Calls = Out.Calls || (code == cdPow && !square);
    Instruction& instruction = Emit(square ? OpSquare : code, slot);
    instruction.Left = Source(slot, instruction, 0);
    if (!square) instruction.Right = Source(slot + 1, instruction, 1);
    Homes[slot] = Home::Stack;
    Written[slot + 1] = false;
    return true;
  }

  bool Variable(int slot, const double* address) {
    if (!ValidSlots(slot, 1)) return false;
    Write(slot);
    Homes[slot] = Home::Variable;
    Variables[slot] = address;
    return true;
  }

  bool Number(int slot, double value) {
    if (!ValidSlots(slot, 1)) return false;
    Write(slot);
    Homes[slot] = Home::Number;
    Numbers[slot] = value;
    return true;
  }

  // A callback, and the context it is called with, if any.
  struct Callee {
    void* Callback;
    void* Context;
    bool WithContext;
  };

  // A function entry of n >= 1 fixed arguments, of which only 1 can be
  // defined, or of -n listed ones.
  bool FunctionCall(int slot, Cell argCount, const Callee& callee) {
    if (argCount == 1) return UnaryCall(slot, callee);
    if (argCount <= 0) return ListCall(slot, -argCount, callee);
    return false;
  }

  bool UnaryCall(int slot, const Callee& callee) {
    if (!ValidSlots(slot, 1) || !WrittenSlots(slot, 1) || !NothingAbove(slot + 1)) return false;
    SettleVariablesBelow(slot);
    Calling(callee);
    Instruction& call = Emit(callee.WithContext ? OpCallUnaryContext : OpCallUnary, slot);
    call.Left = Source(slot, call, 0);
    call.Callback = callee.Callback;
    call.Context = callee.Context;
    Homes[slot] = Home::Stack;
    return true;
  }

  // The callback sees its arguments as a view of the stack, so they must
  // all be there.
  bool ListCall(int slot, int count, const Callee& callee) {
    if (!ValidSlots(slot, count) || !WrittenSlots(slot, count) || !NothingAbove(slot + count)) return false;
    SettleVariablesBelow(slot);
    for (int k = slot; k < slot + count; ++k) Materialize(k);
    Calling(callee);
    Instruction& call = Emit(callee.WithContext ? OpCallListContext : OpCallList, slot);
    call.ArgCount = count;
    call.Callback = callee.Callback;
    call.Context = callee.Context;
    Homes[slot] = Home::Stack;
    for (int k = slot + 1; k < slot + count; ++k) Written[k] = false;
    Write(slot);
    return true;
  }

  void Calling(const Callee& callee) {
    Out.Calls = true;
    const bool builtin = !callee.WithContext && MachineFormOf(callee.Callback).Form != CallForm::Callback;
    Out.CallsBack = Out.CallsBack || !builtin;
  }

  static bool ValidSlots(int first, int count) {
    return first >= 1 && count >= 0 && first + count <= EvaluationStackSize;
  }

  bool WrittenSlots(int first, int count) const {
    for (int k = first; k < first + count; ++k)
      if (!Written[k]) return false;
    return true;
  }

  // Whether no value waits in the slots from first on. A call keeps only
  // the values below its arguments: the machine code stores those before
  // it and keeps the others in registers, which the call may write over.
  bool NothingAbove(int first) const {
    return std::none_of(Written.begin() + first, Written.end(), [](bool written) { return written; });
  }

  void Write(int slot) {
    Written[slot] = true;
    Out.HighestSlot = std::max(Out.HighestSlot, slot);
  }

  Instruction& Emit(std::int32_t op, int slot) {
    Instruction& instruction = Out.Instructions.emplace_back();
    instruction.Op = op;
    instruction.Slot = slot;
    return instruction;
  }

  // Where the instruction reads the slot's value; a number is copied into
  // the instruction's own constant `which`.
  Operand Source(int slot, Instruction& instruction, int which) {
    switch (Homes[slot]) {
      case Home::Variable: return Operand::At(Variables[slot]);
      case Home::Number:
        instruction.Constants[which] = Numbers[slot];
        return Operand::At(&instruction.Constants[which]);
      default: return Operand::OfSlot(slot);
    }
  }

  void Materialize(int slot) {
    if (Homes[slot] == Home::Stack) return;
    Instruction& load = Emit(OpLoad, slot);
    load.Left = Source(slot, load, 0);
    Homes[slot] = Home::Stack;
  }

  // A callback may change a variable that an operand below it still reads.
  void SettleVariablesBelow(int slot) {
    for (int k = 1; k < slot; ++k)
      if (Homes[k] == Home::Variable) Materialize(k);
  }

  Program& Out;
  std::array<Home, EvaluationStackSize> Homes{};
  std::array<const double*, EvaluationStackSize> Variables{};
  std::array<double, EvaluationStackSize> Numbers{};
  // Whether an entry wrote the slot and no entry consumed it since.
  std::array<bool, EvaluationStackSize> Written{};
};

// The number of entries before the end marker, or -1 for cells that hold
// an entry of no known size, an entry cut short, or no end marker.
int CountEntries(std::span<const Cell> cells) {
  int entries = 0;
  std::size_t i = 0;
  for (; i + 1 < cells.size() && cells[i + 1] != cdEnd; ++entries) {
    const Command* command = FindCommand(cells[i + 1]);
    if (!command || command->Cells == 0) return -1;
    i += static_cast<std::size_t>(command->Cells);
  }
  return i + 1 < cells.size() ? entries : -1;
}

}  // namespace

bool Program::Derive(std::span<const Cell> cells) {
  const int entries = CountEntries(cells);
  if (entries < 0) return false;
  Instructions.clear();
  // Each entry adds at most itself and one load, so the instructions never
  // move and pointers to their constants stay valid.
  Instructions.reserve(2 * static_cast<std::size_t>(entries) + 1);
  Calls = false;
  CallsBack = false;
  HighestSlot = 1;
  ProgramBuilder builder(*this);
  const Cell* cell = cells.data();
  for (int entry = 0; entry < entries; ++entry, cell += Commands[cell[1]].Cells)
    if (!builder.Add(cell)) return false;
  return builder.Finish();
}

namespace {

// Runs the instructions on the frame and returns the result. The variant
// without calls needs no registers kept across calls, which makes it
// markedly faster for plain arithmetic; it never meets a call.
template <bool WithCalls>
double Run(const Program& program, double* frame) {
  const Instruction* const end = program.Instructions.data() + program.Instructions.size();
  for (const Instruction* at = program.Instructions.data(); at != end; ++at) {
    const Instruction& i = *at;
    double& result = frame[i.Slot];
    switch (i.Op) {
#define MATHUTILS_RUN_BINARY(code, ...)                                                   \
  case code:                                                                              \
    if constexpr (code != cdPow || WithCalls)                                             \
      result = ComputeBinary(code, *i.Left.In(frame), *i.Right.In(frame), program.Raise); \
    break;
      MATHUTILS_BINARY_OPERATIONS(MATHUTILS_RUN_BINARY)
#undef MATHUTILS_RUN_BINARY
      case OpSquare: {
        const double left = *i.Left.In(frame);
        result = left * left;
        break;
      }
      case OpLoad: result = *i.Left.In(frame); break;
      case OpCallUnary:
        if constexpr (WithCalls) result = reinterpret_cast<UnaryCallback>(i.Callback)(*i.Left.In(frame));
        break;
      case OpCallList:
        if constexpr (WithCalls)
          result = reinterpret_cast<ListCallback>(i.Callback)(
              std::span<const double>(&result, static_cast<std::size_t>(i.ArgCount)));
        break;
      case OpCallUnaryContext:
        if constexpr (WithCalls)
          result = reinterpret_cast<UnaryContextCallback>(i.Callback)(i.Context, *i.Left.In(frame));
        break;
      case OpCallListContext:
        if constexpr (WithCalls)
          result = reinterpret_cast<ListContextCallback>(i.Callback)(
              i.Context, std::span<const double>(&result, static_cast<std::size_t>(i.ArgCount)));
        break;
    }
  }
  return *program.Result.In(frame);
}

}  // namespace

double RunProgram(const Program& program, double* frame) { return Run<true>(program, frame); }
double RunArithmetic(const Program& program, double* frame) { return Run<false>(program, frame); }

namespace {

std::string SlotName(int slot) {
  std::string name = "s";
  return name.append(std::to_string(slot));
}

// An operand as the listing shows it: a slot, a number or a variable.
std::string OperandName(const Instruction& instruction, const Operand& operand, const NameOfAddress& nameOf) {
  if (operand.IsSlot()) return SlotName(operand.Slot());
  if (instruction.IsConstant(operand)) {
    char number[32];
    return std::string(number, std::to_chars(number, number + sizeof number, *operand.Address()).ptr);
  }
  return nameOf(operand.Address(), nullptr);
}

std::string InstructionText(const Instruction& i, const NameOfAddress& nameOf) {
  const auto operand = [&](const Operand& at) { return OperandName(i, at, nameOf); };
  const std::string result = SlotName(i.Slot) + " = ";
  const std::string name = result + std::string(ListingOf(i.Op)) + ' ';
  switch (LoweringOf(i.Op)) {
    case Lowering::Square:
    case Lowering::Load: return name + operand(i.Left);
    case Lowering::CallUnary:
    case Lowering::CallUnaryContext: return name + nameOf(i.Callback, i.Context) + ' ' + operand(i.Left);
    case Lowering::CallList:
    case Lowering::CallListContext:
      return name + nameOf(i.Callback, i.Context) + ' ' + SlotName(i.Slot) + ".." +
             SlotName(i.Slot + i.ArgCount - 1);
    default: return name + operand(i.Left) + ", " + operand(i.Right);
  }
}

}  // namespace

std::string DisassembleProgram(const Program& program, const NameOfAddress& nameOf) {
  std::string text;
  for (const Instruction& instruction : program.Instructions)
    text += InstructionText(instruction, nameOf) + '\n';
  const Operand& result = program.Result;
  return text + "RESULT " + (result.IsSlot() ? SlotName(result.Slot()) : nameOf(result.Address(), nullptr));
}

}  // namespace MathUtils::detail
