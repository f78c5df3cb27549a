#include "parser/program.h"

#include <array>
#include <charconv>

#include "parser/commands.h"
#include "parser/parser_base.h"

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
      case cdPostfixOp: return UnaryCall(slot, ReadAddress(entry + 2));
      case cdFunction:
        if (entry[2] == 1) return UnaryCall(slot, ReadAddress(entry + 3));
        if (entry[2] <= 0) return ListCall(slot, -entry[2], ReadAddress(entry + 3));
        return false;
      default: return false;
    }
  }

  void Finish() {
    if (Homes[1] == Home::Number) Materialize(1);
    Out.Result = Homes[1] == Home::Variable ? Variables[1] : &Out.Slots[1];
  }

 private:
  bool Binary(int slot, Cell code) {
    if (!ValidSlots(slot, 2)) return false;
    const bool square = code == cdPow && Homes[slot + 1] == Home::Number && Numbers[slot + 1] == 2;
    Out.Calls = Out.Calls || (code == cdPow && !square);
    Instruction& instruction = Emit(square ? OpSquare : code, slot);
    instruction.Left = Source(slot, instruction, 0);
    if (!square) instruction.Right = Source(slot + 1, instruction, 1);
    Homes[slot] = Home::Stack;
    return true;
  }

  bool Variable(int slot, const double* address) {
    if (!ValidSlots(slot, 1)) return false;
    Homes[slot] = Home::Variable;
    Variables[slot] = address;
    return true;
  }

  bool Number(int slot, double value) {
    if (!ValidSlots(slot, 1)) return false;
    Homes[slot] = Home::Number;
    Numbers[slot] = value;
    return true;
  }

  bool UnaryCall(int slot, void* callback) {
    if (!ValidSlots(slot, 1)) return false;
    SettleVariablesBelow(slot);
    Out.Calls = true;
    Instruction& call = Emit(OpCallUnary, slot);
    call.Left = Source(slot, call, 0);
    call.Callback = callback;
    Homes[slot] = Home::Stack;
    return true;
  }

  // The callback sees its arguments as a view of the stack, so they must
  // all be there.
  bool ListCall(int slot, int count, void* callback) {
    if (!ValidSlots(slot, count)) return false;
    SettleVariablesBelow(slot);
    for (int k = slot; k < slot + count; ++k) Materialize(k);
    Out.Calls = true;
    Instruction& call = Emit(OpCallList, slot);
    call.ArgCount = count;
    call.Callback = callback;
    Homes[slot] = Home::Stack;
    return true;
  }

  static bool ValidSlots(int first, int count) {
    return first >= 1 && count >= 0 && first + count <= EvaluationStackSize;
  }

  Instruction& Emit(std::int32_t op, int slot) {
    Instruction& instruction = Out.Instructions.emplace_back();
    instruction.Op = op;
    instruction.Result = &Out.Slots[slot];
    return instruction;
  }

  // Where the instruction reads the slot's value; a number is copied into
  // the instruction's own constant `which`.
  const double* Source(int slot, Instruction& instruction, int which) {
    switch (Homes[slot]) {
      case Home::Variable: return Variables[slot];
      case Home::Number: instruction.Constants[which] = Numbers[slot]; return &instruction.Constants[which];
      default: return &Out.Slots[slot];
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
  ProgramBuilder builder(*this);
  const Cell* cell = cells.data();
  for (int entry = 0; entry < entries; ++entry, cell += Commands[cell[1]].Cells)
    if (!builder.Add(cell)) return false;
  builder.Finish();
  return true;
}

namespace {

// Runs the instructions from first up to end and returns the value at
// result. The variant without calls needs no registers kept across calls,
// which makes it markedly faster for plain arithmetic; it never meets a
// call.
template <bool WithCalls>
double Run(const Instruction* first, const Instruction* end, const double* result) {
  for (const Instruction* at = first; at != end; ++at) {
    const Instruction& i = *at;
    switch (i.Op) {
#define MATHUTILS_RUN_BINARY(code)                                                                \
  case code:                                                                                      \
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
  return *result;
}

}  // namespace

}  // namespace MathUtils::detail

namespace MathUtils {

// The parser keeps the program's three pointers itself, so that a later
// evaluation starts the loop without a detour through the Program.
double ParserBase::RunProgram() { return detail::Run<true>(ProgramBegin, ProgramEnd, ProgramResult); }
double ParserBase::RunArithmetic() { return detail::Run<false>(ProgramBegin, ProgramEnd, ProgramResult); }

}  // namespace MathUtils

namespace MathUtils::detail {

namespace {

std::string SlotName(const Program& program, const double* slot) {
  std::string name = "s";
  return name.append(std::to_string(slot - program.Slots));
}

bool InStack(const Program& program, const double* address) {
  return address >= program.Slots && address < program.Slots + EvaluationStackSize;
}

// An operand as the listing shows it: a slot, a number or a variable.
std::string OperandName(const Program& program, const Instruction& instruction, const double* operand,
                        const std::function<std::string(const void*)>& nameOf) {
  if (InStack(program, operand)) return SlotName(program, operand);
  if (operand == &instruction.Constants[0] || operand == &instruction.Constants[1]) {
    char number[32];
    return std::string(number, std::to_chars(number, number + sizeof number, *operand).ptr);
  }
  return nameOf(operand);
}

std::string InstructionText(const Program& program, const Instruction& i,
                            const std::function<std::string(const void*)>& nameOf) {
  const auto operand = [&](const double* at) { return OperandName(program, i, at, nameOf); };
  const std::string result = SlotName(program, i.Result) + " = ";
  switch (i.Op) {
    case OpSquare: return result + "SQUARE " + operand(i.Left);
    case OpLoad: return result + "LOAD " + operand(i.Left);
    case OpCallUnary: return result + "CALL " + nameOf(i.Callback) + ' ' + operand(i.Left);
    case OpCallList:
      return result + "CALL " + nameOf(i.Callback) + ' ' + SlotName(program, i.Result) + ".." +
             SlotName(program, i.Result + i.ArgCount - 1);
    default:
      return result + std::string(Commands[i.Op].Listing) + ' ' + operand(i.Left) + ", " + operand(i.Right);
  }
}

}  // namespace

std::string DisassembleProgram(const Program& program,
                               const std::function<std::string(const void*)>& nameOf) {
  std::string text;
  for (const Instruction& instruction : program.Instructions)
    text += InstructionText(program, instruction, nameOf) + '\n';
  const bool inStack = InStack(program, program.Result);
  return text + "RESULT " + (inStack ? SlotName(program, program.Result) : nameOf(program.Result));
}

}  // namespace MathUtils::detail
