#include "parser/program/program_blocks.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "parser/core/commands.h"

namespace MathUtils::detail {

namespace {

// A frame of this many doubles lives on the stack; a larger one (a program
// whose highest slot is 128 or above, at the fewest points) on the heap.
constexpr std::size_t InlineFrameDoubles = 2048;
constexpr std::size_t MostBlockPoints = 256;
constexpr std::size_t FewestBlockPoints = 16;

class BlockFrame {
 public:
  explicit BlockFrame(int highestSlot)
      : Points(BlockPoints(highestSlot)), Size((static_cast<std::size_t>(highestSlot) + 1) * Points) {
    if (Size > InlineFrameDoubles) Heap.resize(Size);
    Rows = Size > InlineFrameDoubles ? Heap.data() : Inline;
  }
  BlockFrame(const BlockFrame&) = delete;
  BlockFrame& operator=(const BlockFrame&) = delete;

  double* Row(int slot) { return Rows + static_cast<std::size_t>(slot) * Points; }

  const std::size_t Points;

 private:
  std::size_t Size;
  double Inline[InlineFrameDoubles];  // left unset: a program writes a slot before reading it
  std::vector<double> Heap;
  double* Rows;
};

// An operand over a block: one value per point, or one for every point.
struct Lane {
  const double* Values;
  bool Varies;
};

// The points [First, First + Count) of one evaluation over arrays.
class Block {
 public:
  Block(BlockFrame& frame, std::span<const VariableArray> variables) : Frame(frame), Variables(variables) {}

  void MoveTo(std::size_t first, std::size_t count) {
    First = first;
    Count = count;
  }
  std::size_t Count = 0;

  double* Row(int slot) { return Frame.Row(slot); }

  Lane Read(const Instruction& instruction, const Operand& operand) {
    if (operand.IsSlot()) return {Frame.Row(operand.Slot()), true};
    if (!instruction.IsConstant(operand))
      for (const VariableArray& variable : Variables)
        if (variable.Variable == operand.Address()) return {variable.Values + First, true};
    return {operand.Address(), false};
  }

 private:
  BlockFrame& Frame;
  std::span<const VariableArray> Variables;
  std::size_t First = 0;
};

// The loops below are instantiated per operation and per kind of operand,
// so that the body of each is one operation on values read in place.
template <bool Varies>
double At(const double* values, double only, std::size_t j) {
  return Varies ? values[j] : only;
}

template <std::int32_t Code, bool LeftVaries, bool RightVaries>
void BinaryOver(double* out, const double* left, const double* right, std::size_t count, PowFunction raise) {
  const double leftOnly = *left, rightOnly = *right;
  for (std::size_t j = 0; j < count; ++j)
    out[j] =
        ComputeBinary(Code, At<LeftVaries>(left, leftOnly, j), At<RightVaries>(right, rightOnly, j), raise);
}

template <std::int32_t Code>
void Binary(double* out, Lane left, Lane right, std::size_t count, PowFunction raise) {
  if (left.Varies) {
    if (right.Varies)
      BinaryOver<Code, true, true>(out, left.Values, right.Values, count, raise);
    else
      BinaryOver<Code, true, false>(out, left.Values, right.Values, count, raise);
  } else {
    if (right.Varies)
      BinaryOver<Code, false, true>(out, left.Values, right.Values, count, raise);
    else
      BinaryOver<Code, false, false>(out, left.Values, right.Values, count, raise);
  }
}

// out[j] = f(the operand at point j), for a function f of one value.
template <typename Function>
void UnaryOver(double* out, Lane operand, std::size_t count, Function f) {
  if (!operand.Varies) {
    std::fill_n(out, count, f(*operand.Values));
    return;
  }
  for (std::size_t j = 0; j < count; ++j) out[j] = f(operand.Values[j]);
}

// A built-in of listed arguments, called point by point with the point's
// values of the slots from the instruction's own on.
void ListCallOver(const Instruction& call, Block& block, double* out) {
  const auto function = reinterpret_cast<ListCallback>(call.Callback);
  const auto count = static_cast<std::size_t>(call.ArgCount);
  double arguments[EvaluationStackSize];
  for (std::size_t j = 0; j < block.Count; ++j) {
    for (std::size_t k = 0; k < count; ++k) arguments[k] = block.Row(call.Slot + static_cast<int>(k))[j];
    out[j] = function(std::span<const double>(arguments, count));
  }
}

// Writes the instruction's value at each point of the block to out.
void RunOverBlock(const Instruction& i, Block& block, double* out, PowFunction raise) {
  const std::size_t count = block.Count;
  switch (i.Op) {
#define MATHUTILS_BLOCK_BINARY(code, ...) \
  case code: Binary<code>(out, block.Read(i, i.Left), block.Read(i, i.Right), count, raise); return;
    MATHUTILS_BINARY_OPERATIONS(MATHUTILS_BLOCK_BINARY)
#undef MATHUTILS_BLOCK_BINARY
    case OpSquare: UnaryOver(out, block.Read(i, i.Left), count, [](double v) { return v * v; }); return;
    case OpLoad: UnaryOver(out, block.Read(i, i.Left), count, [](double v) { return v; }); return;
    case OpCallUnary:
      UnaryOver(out, block.Read(i, i.Left), count, reinterpret_cast<UnaryCallback>(i.Callback));
      return;
    case OpCallList: ListCallOver(i, block, out); return;
    default: return;  // callbacks with a context are the user's: never run here
  }
}

// On 32-bit x86 a double is returned on the x87 stack, whose load quiets a
// signaling NaN: every value that Evaluate returns there is quiet. Results
// written by a block pass through no return, so they are quieted alike.
void QuietAsReturned([[maybe_unused]] double* out, [[maybe_unused]] std::size_t count) {
#if defined(__i386__) || defined(_M_IX86)
  for (std::size_t j = 0; j < count; ++j)
    if (out[j] != out[j]) out[j] = std::bit_cast<double>(std::bit_cast<std::uint64_t>(out[j]) | 1ull << 51);
#endif
}

}  // namespace

std::size_t BlockPoints(int highestSlot) {
  const std::size_t rows = static_cast<std::size_t>(highestSlot) + 1;
  return std::clamp(InlineFrameDoubles / rows / 8 * 8, FewestBlockPoints, MostBlockPoints);
}

// Where the program's last instruction writes the result, it writes it
// straight to the results. The results may be the very array of a listed
// variable: each instruction reads a point's operands before it writes
// that point, and no later instruction reads the array.
void RunBlocks(const Program& program, std::span<const VariableArray> variables, std::span<double> results,
               std::size_t first, std::size_t& written) {
  BlockFrame frame(program.HighestSlot);
  Block block(frame, variables);
  const std::span<const Instruction> instructions = program.Instructions;
  const bool lastWritesResult =
      !instructions.empty() && program.Result.IsSlot() && program.Result.Slot() == instructions.back().Slot;
  const std::span<const Instruction> beforeLast =
      instructions.first(instructions.size() - (lastWritesResult ? 1 : 0));
  for (std::size_t start = first; start < results.size(); start += frame.Points) {
    block.MoveTo(start, std::min(frame.Points, results.size() - start));
    double* out = results.data() + start;
    for (const Instruction& instruction : beforeLast)
      RunOverBlock(instruction, block, block.Row(instruction.Slot), program.Raise);
    if (lastWritesResult)
      RunOverBlock(instructions.back(), block, out, program.Raise);
    else
      UnaryOver(out, block.Read(Instruction{}, program.Result), block.Count, [](double v) { return v; });
    QuietAsReturned(out, block.Count);
    written = start + block.Count;
  }
}

}  // namespace MathUtils::detail
