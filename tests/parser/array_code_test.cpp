// The code over arrays where comparing formulas with Evaluate does not
// reach: a value kept beside a list callback's arguments, cells that the
// derived program refuses, results stored around the caches at every
// alignment, and the lane code's unwind description against what its
// instructions do to the stack.
#include "parser/x86/array_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "array_tiers.h"
#include "cell_entries.h"
#include "frame_replay.h"
#include "parser/engine/compiled_formula.h"
#include "parser/parser.h"
#include "parser/program/program.h"
#include "parser/x86/machine_code.h"
#include "parser/x86/unwind_info.h"
#include "parser_test_support.h"

namespace ParserTests {
namespace {

using namespace CellEntries;
using MathUtils::Cell;
using MathUtils::VariableArray;
using MathUtils::detail::ArrayCode;
using MathUtils::detail::MachineCode;
using ParserTests::ExpectSameBits;
using ParserTests::Tier;
using ParserTests::Tiers;

// A parser whose cells, machine code and lane width the tests choose.
struct LaneParser : MathUtils::Parser {
  using ParserBase::ArrayCodeLanes;
  using ParserBase::AssignBytecode;
  using ParserBase::CurrentTier;
  using ParserBase::SetArrayLanes;
};

std::vector<double> Values(std::size_t count, double first, double step) {
  std::vector<double> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = first + step * static_cast<double>(i % 97) - 0.001 * i;
  return values;
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
  for (const Tier& way : Tiers) {
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

// A list callback with a context, which tells its arguments apart.
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

double Weighted(std::span<const double> values) {
  double total = 0;
  for (std::size_t i = 0; i < values.size(); ++i) total += values[i] * static_cast<double>(i + 1);
  return total;
}

double Halved(double value) { return value / 2; }

double PlusShift(void* context, double value) { return value + *static_cast<const double*>(context); }

// Cells that the program refuses (a list call over slots that no entry
// wrote, or whose value an earlier entry consumed) run on the cell
// interpreter over arrays too: each point reads the listed variables'
// values, wherever the variable's entry stands and whatever the sizes of
// the entries before it.
TEST(ArrayCode, RefusedCellsOverArraysGiveEvaluatesValues) {
  double x = 0, y = 0;
  void* const weighted = reinterpret_cast<void*>(Weighted);
  void* const plusShift = reinterpret_cast<void*>(PlusShift);
  const std::pair<std::vector<Cell>, const char*> cases[] = {
      {Cells({Variable(1, &x),
              Variable(2, &y),
              Value(3, 0.5),
              {2, MathUtils::cdMul},
              {1, MathUtils::cdSub},
              Variable(2, &y),
              Function(1, -4, weighted)}),
       "a variable first"},
      {Cells({Value(1, 1.5),
              Variable(2, &x),
              ContextOp(2, plusShift, &Shift),
              {1, MathUtils::cdMul},
              Variable(2, &y),
              Variable(3, &x),
              {2, MathUtils::cdDiv},
              Function(1, -3, weighted)}),
       "variables after a context call"},
      {Cells({Variable(1, &y), Variable(2, &y), Variable(3, &x), Function(1, -5, weighted)}),
       "one variable twice"},
      {Cells({Variable(1, &x),
              Variable(2, &Shift),
              {1, MathUtils::cdMul},
              Variable(2, &y),
              Function(1, -4, weighted)}),
       "a variable not listed"},
  };
  for (const auto& [cells, what] : cases)
    EXPECT_EQ(ExpectArraysAsEvaluate(cells, x, y, what), MathUtils::detail::Tier::Cells) << what;
}

// Shapes of program that the code over arrays treats apart: values that a
// call stored and that sums, picks, comparisons and logic then read, the
// C library's results scaled, more variables than the registers that hold
// their bases and steps, calls and list functions beyond the register
// slots. Over x and y, with nine more variables held fixed, in every way.
TEST(ArrayCode, ShapesOfProgramOverArraysGiveEvaluatesValues) {
  std::vector<std::string> formulas = {
      "sum(sin(x), sin(y)) + avg(sinr(y), x)",
      "max(sin(x), cos(y), x) - min(sinr(y), x, cosr(x))",
      "(x >= y * 2) + (x > (y - 1)) * 2 + ((x - 1) and (y + 1)) * 4 + (x or (y * 0)) * 8",
      "asin(x / 30) + acos(y / 30)",
      "asin(x / 30) + halved(y)",
      "a * x + b - c * y + d / e",
      "a + b + c + d + e + f + g + h + i + x + y",
      "a + b + c + d + e + f + g + h + i + x + y + sin(x)",
      "sin(x) + sin(y) * sin(x + y)",
  };
  // Slots beyond the registers: a call of the C library there, a list
  // function whose arguments lie there, comparisons and logic there.
  for (const char* innermost : {"sin(x)", "max(x, y)", "(x > y * 2) + (x >= y - 1) + (x and (y - 2))"}) {
    std::string deep = innermost;
    for (int k = 0; k < 16; ++k) deep = (k % 2 ? "x - (" : "y + (") + deep + ")";
    formulas.push_back(deep);
  }

  const std::vector<double> xs = Values(2100, -20.5, 0.375), ys = Values(2100, 9.75, -0.25);
  for (const std::string& formula : formulas) {
    double fixed[9] = {1.5, -2.25, 3.0, 0.5, 4.0, -1.0, 2.0, 0.25, 8.0};
    double x = 0, y = 0;
    const auto define = [&](MathUtils::Parser& parser) {
      const char* const names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i"};
      for (int k = 0; k < 9; ++k) parser.AddVariable(names[k], &fixed[k]);
      parser.AddVariable("x", &x);
      parser.AddVariable("y", &y);
      parser.AddFunction("halved", Halved, false);
      parser.AssignFormula(formula);
    };
    LaneParser pointByPoint;
    pointByPoint.SetMachineCode(false);
    define(pointByPoint);
    std::vector<double> expected(xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
      x = xs[i];
      y = ys[i];
      expected[i] = pointByPoint.Evaluate();
    }
    for (const Tier& way : Tiers) {
      LaneParser parser;
      parser.SetMachineCode(way.MachineCode);
      parser.SetArrayLanes(way.Lanes);
      define(parser);
      const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
      std::vector<double> results(xs.size());
      parser.EvaluateArrays(arrays, results);
      ExpectSameBits(expected, results, formula + " [" + way.Name + "]");
      if (way.MachineCode && ArrayCode::WidestLanes() > 1) {
        EXPECT_GT(parser.ArrayCodeLanes(), 0) << formula << " [" << way.Name << "]";
      }
    }
  }
}

// More variables than the loop keeps on its stack, each over an array of
// its own, one of them held fixed.
TEST(ArrayCode, SeventyVariablesOverArrays) {
  constexpr std::size_t Count = 70, Points = 2100;
  std::vector<double> variables(Count);
  std::vector<std::vector<double>> values(Count);
  std::string formula;
  for (std::size_t k = 0; k < Count; ++k) {
    formula += (k ? (k % 3 ? " + " : " * ") : "") + ("v" + std::to_string(k));
    values[k] = Values(Points, static_cast<double>(k) * 0.125 - 4, 0.03125 * static_cast<double>(k % 5 + 1));
  }
  const auto define = [&](MathUtils::Parser& parser) {
    for (std::size_t k = 0; k < Count; ++k) parser.AddVariable("v" + std::to_string(k), &variables[k]);
    parser.AssignFormula(formula);
  };
  variables[Count - 1] = 1.75;  // held fixed
  MathUtils::Parser pointByPoint;
  pointByPoint.SetMachineCode(false);
  define(pointByPoint);
  std::vector<double> expected(Points);
  for (std::size_t i = 0; i < Points; ++i) {
    for (std::size_t k = 0; k + 1 < Count; ++k) variables[k] = values[k][i];
    expected[i] = pointByPoint.Evaluate();
  }
  std::vector<VariableArray> arrays;
  for (std::size_t k = 0; k + 1 < Count; ++k) arrays.push_back({&variables[k], values[k].data()});
  for (const Tier& way : Tiers) {
    LaneParser parser;
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    define(parser);
    std::vector<double> results(Points);
    parser.EvaluateArrays(arrays, results);
    ExpectSameBits(expected, results, std::string("seventy variables [") + way.Name + "]");
  }
}

// A power by the number 1, which no compiled formula leaves but cells may
// hold, runs in lanes without a call.
TEST(ArrayCode, PowerOfOneFromCellsRunsInLanes) {
  double x = 0, y = 0;
  const std::vector<Cell> cells =
      Cells({Variable(1, &x), Value(2, 1), {1, MathUtils::cdPow}, Variable(2, &y), {1, MathUtils::cdAdd}});
  EXPECT_NE(ExpectArraysAsEvaluate(cells, x, y, "x^1 + y"), MathUtils::detail::Tier::Cells);
}

// A built-in list function called with no arguments, which no formula
// writes but cells may: every way reports what Evaluate reports, never the
// value of an inline sum of nothing.
TEST(ArrayCode, BuiltInListFunctionOfNoArgumentsFromCells) {
  MathUtils::Parser compiling;
  double x = 0;
  compiling.AddVariable("x", &x);
  compiling.AssignFormula("sum(x)");
  compiling.Evaluate();
  const std::span<const Cell> compiled = compiling.GetBytecode();
  ASSERT_EQ(compiled[MathUtils::VariableEntryCells + 1], MathUtils::cdFunction);
  void* const sum = MathUtils::ReadAddress(&compiled[MathUtils::VariableEntryCells + 3]);
  const std::vector<Cell> cells = Cells({Function(1, 0, sum), Variable(2, &x), {1, MathUtils::cdAdd}});
  LaneParser pointByPoint;
  pointByPoint.AssignBytecode(cells);
  const std::string error = ErrorText([&] { pointByPoint.Evaluate(); });
  const std::vector<double> xs(2100, 1.5);
  const VariableArray arrays[] = {{&x, xs.data()}};
  for (const Tier& way : Tiers) {
    LaneParser parser;
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    parser.AssignBytecode(cells);
    std::vector<double> results(xs.size());
    std::size_t written = 9;
    EXPECT_EQ(ErrorText([&] { parser.EvaluateArrays(arrays, results, &written); }), error) << way.Name;
    EXPECT_EQ(written, 0u) << way.Name;
  }
}

// Errors over arrays: the cell interpreter reports an entry it does not
// know at the first point, and an exception reaches the caller whether or
// not it asks for the count of points written.
TEST(ArrayCode, ErrorsOverArraysReachTheCaller) {
  double x = 0;
  const std::vector<double> xs(40, 1.0);
  std::vector<double> results(40);
  const VariableArray arrays[] = {{&x, xs.data()}};
  {
    LaneParser parser;
    parser.AssignBytecode(Cells({Variable(1, &x), {1, 99}}));
    std::size_t written = 7;
    EXPECT_PARSER_ERROR(parser.EvaluateArrays(arrays, results, &written), MathUtils::Messages::UnknownCode);
    EXPECT_EQ(written, 0u);
  }
  for (const Tier& way : Tiers) {
    LaneParser parser;
    parser.SetMachineCode(way.MachineCode);
    parser.SetArrayLanes(way.Lanes);
    parser.AddVariable("x", &x);
    parser.AddFunction(
        "fail", +[](double) -> double { throw std::runtime_error("fails"); }, false);
    parser.AssignFormula("fail(x) + x");
    EXPECT_THROW(parser.EvaluateArrays(arrays, results), std::runtime_error) << way.Name;
  }
  LaneParser fresh;
  EXPECT_EQ(fresh.ArrayCodeLanes(), 0) << "no formula, no code";
}

// ---- results around the caches ----

// Where the results of many points go around the caches, they do so from
// the first aligned vector on, at every alignment of the results, whatever
// the caches of the machine: the threshold is set low here.
TEST(ArrayCode, ResultsAroundTheCachesAtEveryAlignment) {
  if (ArrayCode::WidestLanes() == 1) GTEST_SKIP() << "no machine code over arrays in this build";
  const std::size_t saved = MathUtils::detail::StreamingPoints();
  MathUtils::detail::SetStreamingPoints(600);
  const std::size_t count = 1000 + 5;
  const std::vector<double> xs = Values(count, 1.25, 0.5), ys = Values(count, -7.5, 0.25);
  const std::string formula = "x * y - x / (y + 3) + sqrt(x)";
  for (const int lanes : {2, 4, 8}) {
    LaneParser parser;
    double x = 0, y = 0;
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    parser.SetMachineCode(true);
    parser.SetArrayLanes(lanes);
    parser.AssignFormula(formula);
    std::vector<double> expected(count);
    for (std::size_t i = 0; i < count; ++i) {
      x = xs[i];
      y = ys[i];
      expected[i] = parser.Evaluate();
    }
    const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
    std::vector<double> results(count + 8);
    for (std::size_t offset = 0; offset < 8; ++offset) {
      // Below the threshold, through the caches; from it on, around them.
      for (const std::size_t points : {std::size_t{599}, count}) {
        const std::string context =
            "lanes " + std::to_string(lanes) + ", results at +" + std::to_string(8 * offset) + " bytes";
        const std::size_t before = MathUtils::detail::StreamedPoints();
        const std::span<double> out(results.data() + offset, points);
        parser.EvaluateArrays(arrays, out);
        const std::size_t streamed = MathUtils::detail::StreamedPoints() - before;
        ExpectSameBits(
            std::vector<double>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(points)),
            out, context);
        if (points < 600 || parser.ArrayCodeLanes() == 0) {
          EXPECT_EQ(streamed, 0u) << context;
          continue;
        }
        // All but the points before the first aligned vector and after the last whole one.
        const auto width = static_cast<std::size_t>(parser.ArrayCodeLanes());
        EXPECT_GT(streamed + 2 * width, points) << context;
        EXPECT_EQ(streamed % width, 0u) << context;
      }
    }
    EXPECT_GT(parser.ArrayCodeLanes(), 1) << lanes;
  }
  MathUtils::detail::SetStreamingPoints(saved);
}

// ---- the lane code's unwind description ----

constexpr bool Wide = sizeof(void*) == 8;
constexpr int StackPointer = Wide ? 7 : 4;
constexpr int FramePointer = Wide ? 6 : 5;

// The DWARF number of a general register from its number in the encoding.
int DwarfNumber(int encoded) {
  constexpr int Low[] = {0, 2, 1, 3, 7, 6, 4, 5};
  return Wide && encoded < 8 ? Low[encoded] : encoded;
}

// What an instruction that builds or takes down a frame does.
struct FrameEffect {
  enum Kind { Push, Pop, Grow, Shrink, FrameFromStack, StackFromFrame, LoadFromFrame, Return } Is;
  std::size_t Length;
  int Register = 0;         // DWARF number
  std::int64_t Amount = 0;  // bytes, or the displacement from the frame pointer
};

// The instruction at the offset, where it is one of those that x86 frames
// are built and taken down with: push, pop, add and sub of the stack
// pointer, the moves between the stack and the frame pointer, a load
// relative to the frame pointer, ret. Nothing for any other.
std::optional<FrameEffect> DecodeFrameInstruction(std::span<const std::uint8_t> code, std::size_t at) {
  const auto byte = [&](std::size_t k) { return at + k < code.size() ? int{code[at + k]} : -1; };
  const int rex = Wide && (byte(0) & 0xf0) == 0x40 ? byte(0) : 0;
  const std::size_t k = rex ? 1 : 0;
  const int op = byte(k), modrm = byte(k + 1);
  const bool plain = rex == 0 || rex == 0x41, wordSized = Wide ? rex == 0x48 : rex == 0;
  using E = FrameEffect;
  if (plain && op >= 0x50 && op <= 0x5f)
    return E{op < 0x58 ? E::Push : E::Pop, k + 1, DwarfNumber((op & 7) + (rex ? 8 : 0))};
  if (op == 0xc3 && rex == 0) return E{E::Return, 1};
  if (!wordSized) return std::nullopt;
  const auto imm8 = [&](std::size_t at8) { return std::int64_t{static_cast<std::int8_t>(byte(at8))}; };
  const auto imm32 = [&](std::size_t from) {
    std::int32_t value = 0;
    for (int b = 3; b >= 0; --b)
      value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 8 |
                                        static_cast<std::uint32_t>(byte(from + b)));
    return std::int64_t{value};
  };
  if ((op == 0x83 || op == 0x81) && (modrm == 0xec || modrm == 0xc4)) {
    const bool small = op == 0x83;
    return E{modrm == 0xec ? E::Grow : E::Shrink, k + (small ? 3 : 6), 0, small ? imm8(k + 2) : imm32(k + 2)};
  }
  if ((op == 0x89 && modrm == 0xe5) || (op == 0x8b && modrm == 0xec)) return E{E::FrameFromStack, k + 2};
  if ((op == 0x89 && modrm == 0xec) || (op == 0x8b && modrm == 0xe5)) return E{E::StackFromFrame, k + 2};
  if (op == 0x8b && (modrm & 0xc7) == 0x45)
    return E{E::LoadFromFrame, k + 3, DwarfNumber((modrm >> 3) & 7), imm8(k + 2)};
  return std::nullopt;
}

// The rule an unwinder must find, and how far below the CFA the stack
// pointer is.
struct FrameState {
  ReplayedFrame Rule{StackPointer, AddressBytes, {}};
  std::int64_t Depth = AddressBytes;
};

// Applies what the instruction does; false where no frame does that.
bool Apply(FrameState& state, const FrameEffect& effect) {
  ReplayedFrame& rule = state.Rule;
  const bool onFramePointer = rule.CfaRegister == FramePointer;
  switch (effect.Is) {
    case FrameEffect::Push:
      state.Depth += AddressBytes;
      if (!rule.Saved.count(effect.Register)) rule.Saved[effect.Register] = -state.Depth;
      break;
    case FrameEffect::Pop:
      if (const auto saved = rule.Saved.find(effect.Register);
          saved != rule.Saved.end() && saved->second == -state.Depth)
        rule.Saved.erase(saved);
      state.Depth -= AddressBytes;
      if (effect.Register == FramePointer && onFramePointer) rule.CfaRegister = StackPointer;
      break;
    case FrameEffect::Grow: state.Depth += effect.Amount; break;
    case FrameEffect::Shrink: state.Depth -= effect.Amount; break;
    case FrameEffect::FrameFromStack: rule.CfaRegister = FramePointer; break;
    case FrameEffect::StackFromFrame:
      if (!onFramePointer) return false;
      state.Depth = static_cast<std::int64_t>(rule.CfaOffset);
      break;
    case FrameEffect::LoadFromFrame:
      if (!onFramePointer) return false;
      if (const auto saved = rule.Saved.find(effect.Register);
          saved != rule.Saved.end() &&
          saved->second == effect.Amount - static_cast<std::int64_t>(rule.CfaOffset))
        rule.Saved.erase(saved);
      break;
    case FrameEffect::Return: return rule == FrameState{}.Rule && state.Depth == AddressBytes;
  }
  if (rule.CfaRegister == StackPointer) rule.CfaOffset = static_cast<std::uint64_t>(state.Depth);
  return state.Depth >= AddressBytes;
}

// The frame at each offset of the code, from what its instructions do to
// the stack: the prologue runs from the entry to the first instruction of
// no frame's, the epilogue from the earliest offset from which frame
// instructions alone lead to the return at the end and leave the frame
// that the call left; between them, the frame stays the prologue's.
std::vector<ReplayedFrame> FramesOfInstructions(std::span<const std::uint8_t> code) {
  std::vector<ReplayedFrame> frames(code.size());
  FrameState state;
  std::size_t at = 0;
  for (std::optional<FrameEffect> effect;
       (effect = DecodeFrameInstruction(code, at)) && effect->Is != FrameEffect::Return;) {
    std::fill(frames.begin() + static_cast<std::ptrdiff_t>(at),
              frames.begin() + static_cast<std::ptrdiff_t>(at + effect->Length), state.Rule);
    EXPECT_TRUE(Apply(state, *effect)) << "prologue at " << at;
    at += effect->Length;
  }
  const std::size_t bodyStart = at;
  for (std::size_t start = bodyStart; start < code.size(); ++start) {
    FrameState epilogue = state;
    std::vector<ReplayedFrame> tail;
    bool valid = true;
    for (std::size_t next = start; valid && next < code.size();) {
      const std::optional<FrameEffect> effect = DecodeFrameInstruction(code, next);
      valid = effect && (effect->Is != FrameEffect::Return || next + 1 == code.size());
      if (!valid) break;
      tail.insert(tail.end(), effect->Length, epilogue.Rule);
      valid = Apply(epilogue, *effect);
      next += effect->Length;
    }
    if (!valid || tail.size() != code.size() - start) continue;
    std::fill(frames.begin() + static_cast<std::ptrdiff_t>(bodyStart),
              frames.begin() + static_cast<std::ptrdiff_t>(start), state.Rule);
    std::copy(tail.begin(), tail.end(), frames.begin() + static_cast<std::ptrdiff_t>(start));
    return frames;
  }
  ADD_FAILURE() << "no epilogue that leads to the return at the end";
  return frames;
}

std::string Shown(const ReplayedFrame& frame) {
  std::ostringstream out;
  out << "CFA r" << frame.CfaRegister << "+" << frame.CfaOffset;
  for (const auto& [reg, offset] : frame.Saved) out << ", r" << reg << " at CFA" << offset;
  return out.str();
}

// The description of the frame replayed at every offset of the
// instructions, against the frame that the instructions build.
void ExpectDescribedAsBuilt(std::span<const std::uint8_t> instructions,
                            std::span<const MathUtils::detail::FrameStep> frame, const std::string& context) {
  const auto address = reinterpret_cast<std::uintptr_t>(instructions.data());
  const std::vector<std::uint8_t> description =
      MathUtils::detail::UnwindInfo::Describe(address, instructions.size(), frame);
  const std::vector<ReplayedFrame> expected = FramesOfInstructions(instructions);
  for (std::size_t offset = 0; offset < instructions.size(); ++offset) {
    const ReplayedFrame replayed = Replay(description, offset, address, instructions.size());
    if (!(replayed == expected[offset])) {
      ADD_FAILURE() << context << " at offset " << offset << " of " << instructions.size() << ": described "
                    << Shown(replayed) << ", the instructions make " << Shown(expected[offset]);
      return;
    }
  }
}

// The description that the code's unwinder reads, replayed at every offset
// of its instructions, is the frame that those instructions build and take
// down, for the loops of every width and the one-point code: the saved
// registers where the pushes put them and until the pops restore them, the
// CFA as the stack pointer moves.
TEST(ArrayCode, UnwindDescriptionAtEveryOffsetIsTheFrameOfTheInstructions) {
  if (ArrayCode::WidestLanes() == 1) GTEST_SKIP() << "no machine code over arrays in this build";
  std::vector<std::string> formulas = {
      "sin(x) + y",                                          // the C library, lane by lane
      "x ^ y - halved(y)",                                   // a callback of the user's: one point at a time
      "x * y + 1",                                           // no call
      "a + b + c + d + e + f + g + h + i + x + y + sin(a)",  // bases in the frame
  };
  // Slots beyond the registers, a frame of more than 127 bytes.
  std::string deep = "sin(y)";
  for (int k = 0; k < 18; ++k) deep = (k % 2 ? "x - (" : "y * (") + deep + ")";
  formulas.push_back(deep);
  for (const std::string& formula : formulas) {
    MathUtils::Parser parser;
    double values[11] = {};
    const char* const names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "x", "y"};
    for (int k = 0; k < 11; ++k) parser.AddVariable(names[k], &values[k]);
    parser.AddFunction("halved", Halved, false);
    parser.AssignFormula(formula);
    parser.Evaluate();
    MathUtils::detail::Program program;
    ASSERT_TRUE(program.Derive(parser.GetBytecode())) << formula;
    for (const int lanes : {1, 2, 4, 8}) {
      const std::unique_ptr<ArrayCode> code = ArrayCode::Generate(program, lanes);
      ASSERT_TRUE(code) << formula;
      ASSERT_FALSE(code->Frame().empty()) << formula;
      ExpectDescribedAsBuilt(code->Code(), code->Frame(),
                             formula + " in " + std::to_string(code->Lanes()) + " lanes");
    }
    // The one-point code, where it has a frame (on x86-64, where it calls).
    const std::unique_ptr<MachineCode> point = MachineCode::Generate(program);
    ASSERT_TRUE(point) << formula;
    if (!point->Frame().empty())
      ExpectDescribedAsBuilt(point->Code(), point->Frame(), formula + " one point");
  }
}

}  // namespace
}  // namespace ParserTests
