// The code over arrays where comparing formulas with Evaluate does not
// reach: a value kept beside a list callback's arguments, cells that the
// derived program refuses, results stored around the caches at every
// alignment, and the lane code's unwind description against what its
// instructions do to the stack.
#include "parser/array_code.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "cell_entries.h"
#include "frame_replay.h"
#include "parser/compiled_formula.h"
#include "parser/parser.h"
#include "parser/program.h"
#include "parser/unwind_info.h"

namespace ParserTests {
namespace {

using namespace CellEntries;
using MathUtils::Cell;
using MathUtils::VariableArray;
using MathUtils::detail::ArrayCode;

// A parser whose cells, machine code and lane width the tests choose.
struct LaneParser : MathUtils::Parser {
  using ParserBase::ArrayCodeLanes;
  using ParserBase::AssignBytecode;
  using ParserBase::CurrentTier;
  using ParserBase::SetArrayLanes;
};

struct Way {
  const char* Name;
  bool MachineCode;
  int Lanes;
};

constexpr Way Ways[] = {
    {"interpreted", false, 8}, {"lanes 1", true, 1}, {"lanes 2", true, 2},
    {"lanes 4", true, 4},      {"lanes 8", true, 8},
};

std::vector<double> Values(std::size_t count, double first, double step) {
  std::vector<double> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = first + step * static_cast<double>(i % 97) - 0.001 * i;
  return values;
}

void ExpectSameBits(const std::vector<double>& expected, std::span<const double> actual,
                    const std::string& context) {
  ASSERT_EQ(expected.size(), actual.size()) << context;
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (std::bit_cast<std::uint64_t>(expected[i]) != std::bit_cast<std::uint64_t>(actual[i])) {
      ADD_FAILURE() << context << " point " << i << ": expected " << expected[i] << ", got " << actual[i];
      return;
    }
}

// ---- cells over arrays against Evaluate ----

// What Evaluate gives for the cells, interpreted, with x and y set to one
// point's values at a time.
std::vector<double> PointByPoint(const std::vector<Cell>& cells, double& x, double& y,
                                 const std::vector<double>& xs, const std::vector<double>& ys) {
  LaneParser parser;
  parser.SetMachineCode(false);
  parser.AssignBytecode(cells);
  std::vector<double> results(xs.size());
  for (std::size_t i = 0; i < xs.size(); ++i) {
    x = xs[i];
    y = ys[i];
    results[i] = parser.Evaluate();
  }
  return results;
}

// Evaluates the cells over arrays of x and y in each way, first over
// enough points to have the machine code made, then over a few, and
// compares every point with Evaluate's. The parser then runs the tier
// returned for the last way.
MathUtils::detail::Tier ExpectArraysAsEvaluate(const std::vector<Cell>& cells, double& x, double& y,
                                               const std::string& what) {
  const std::vector<double> xs = Values(2500, -3.25, 0.0625), ys = Values(2500, 5.5, -0.125);
  const std::vector<double> expected = PointByPoint(cells, x, y, xs, ys);
  MathUtils::detail::Tier tier{};
  for (const Way& way : Ways) {
    LaneParser parser;
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    parser.AssignBytecode(cells);
    x = 0.5;
    y = 0.25;
    const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
    for (const std::size_t count : {xs.size(), std::size_t{19}}) {
      std::vector<double> results(count, -99);
      std::size_t written = 0;
      parser.EvaluateArrays(arrays, results, &written);
      EXPECT_EQ(written, count) << what << " [" << way.Name << "]";
      ExpectSameBits(
          std::vector<double>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(count)),
          results, what + " [" + way.Name + "] over " + std::to_string(count) + " points");
    }
    EXPECT_EQ(x, 0.5) << what << ": the listed variables keep their values";
    EXPECT_EQ(y, 0.25) << what;
    tier = parser.CurrentTier();
    if (way.MachineCode && ArrayCode::WidestLanes() > 1 && tier != MathUtils::detail::Tier::Cells) {
      EXPECT_GT(parser.ArrayCodeLanes(), 0) << what << " [" << way.Name << "]: machine code over arrays";
    }
  }
  return tier;
}

double Shift = 0.75;

// Reads its first and last argument only, in the registers that carry
// them: a register that holds a slot above the arguments keeps its value.
double ShiftedEnds(void* context, std::span<const double> values) {
  return *static_cast<const double*>(context) + values.front() * 3 - values.back();
}

// Writes over every vector register but the one of its argument, as any
// callee may: what a caller keeps in them across the call is lost.
double ScalingAfterScramble(void* context, double value) {
#if defined(__GNUC__) && defined(__x86_64__)
  asm volatile(
      "pcmpeqd %%xmm1, %%xmm1\n\tpcmpeqd %%xmm2, %%xmm2\n\tpcmpeqd %%xmm3, %%xmm3\n\t"
      "pcmpeqd %%xmm4, %%xmm4\n\tpcmpeqd %%xmm5, %%xmm5\n\tpcmpeqd %%xmm6, %%xmm6\n\t"
      "pcmpeqd %%xmm7, %%xmm7\n\tpcmpeqd %%xmm8, %%xmm8\n\tpcmpeqd %%xmm9, %%xmm9\n\t"
      "pcmpeqd %%xmm10, %%xmm10\n\tpcmpeqd %%xmm11, %%xmm11\n\tpcmpeqd %%xmm12, %%xmm12\n\t"
      "pcmpeqd %%xmm13, %%xmm13\n\tpcmpeqd %%xmm14, %%xmm14\n\tpcmpeqd %%xmm15, %%xmm15" ::
          : "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
            "xmm13", "xmm14", "xmm15");
#elif defined(__GNUC__) && defined(__i386__) && defined(__SSE2__)
  asm volatile(
      "pcmpeqd %%xmm1, %%xmm1\n\tpcmpeqd %%xmm2, %%xmm2\n\tpcmpeqd %%xmm3, %%xmm3\n\t"
      "pcmpeqd %%xmm4, %%xmm4\n\tpcmpeqd %%xmm5, %%xmm5\n\tpcmpeqd %%xmm6, %%xmm6\n\t"
      "pcmpeqd %%xmm7, %%xmm7" ::
          : "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
#endif
  return value * *static_cast<const double*>(context);
}

double Total(std::span<const double> values) {
  double total = 0;
  for (const double value : values) total += value;
  return total;
}

// A list callback with a context over slots 1..n while slot n+1 holds
// x*y, which the sum at the end reads. The machine code keeps such a value
// in a register, which the calls may write over (the second surely does):
// the program refuses these cells, and the cell interpreter runs them.
TEST(ArrayCode, ValueAboveTheArgumentsOfAContextListCallbackSurvivesLaterCalls) {
  double x = 0, y = 0;
  void* const shiftedEnds = reinterpret_cast<void*>(ShiftedEnds);
  void* const scaling = reinterpret_cast<void*>(ScalingAfterScramble);
  for (const Cell arguments : {2, 3}) {
    const Cell above = arguments + 1;
    std::vector<Entry> entries = {
        Variable(above, &x), Variable(above + 1, &y), {above, MathUtils::cdMul}, Variable(1, &x)};
    for (Cell k = 2; k <= arguments; ++k) entries.push_back(k == 2 ? Value(k, 2) : Variable(k, &y));
    entries.push_back(ContextFunction(1, -arguments, shiftedEnds, &Shift));
    // s[above + 1] = scaled y, a call that writes over the registers; then
    // s[above] = x*y + that.
    entries.push_back(Variable(above + 1, &y));
    entries.push_back(ContextOp(above + 1, scaling, &Shift));
    entries.push_back({above, MathUtils::cdAdd});
    // Zeros between, and the sum of slots 1..above.
    for (Cell k = 2; k < above; ++k) entries.push_back(Value(k, 0));
    entries.push_back(Function(1, -above, reinterpret_cast<void*>(Total)));
    std::vector<Cell> cells;
    for (const Entry& entry : entries) cells.insert(cells.end(), entry.begin(), entry.end());
    cells.insert(cells.end(), MathUtils::EndEntryCells, MathUtils::cdEnd);
    const MathUtils::detail::Tier tier =
        ExpectArraysAsEvaluate(cells, x, y, std::to_string(arguments) + " arguments");
    EXPECT_EQ(tier, MathUtils::detail::Tier::Cells) << "the program refuses these cells";
  }
}

}  // namespace
}  // namespace ParserTests
