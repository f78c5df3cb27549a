// Evaluation over arrays: every result bit for bit what Evaluate gives at
// that point, on every tier and lane width, for every length class.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "array_tiers.h"
#include "parser/engine/compiled_formula.h"
#include "parser/parser.h"
#include "parser/program/program_blocks.h"
#include "parser/x86/array_code.h"
#include "parser_test_support.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#define VORNCALC_TEST_MXCSR 1
#endif

namespace {

using MathUtils::VariableArray;
using ParserTests::Bits;
using ParserTests::ExpectSameBits;
using ParserTests::Tier;
using ParserTests::Tiers;

double FromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A parser whose lane width and machine code the tests choose.
struct ArrayParser : MathUtils::Parser {
  using ParserBase::ArrayCodeLanes;
  using ParserBase::SetArrayLanes;
  bool Running() const {
    return CurrentTier() != MathUtils::detail::Tier::Constant &&
           CurrentTier() != MathUtils::detail::Tier::Compile;
  }
};

// Values that tell tiers apart: signed zeros, infinities, NaNs with
// payloads and signs, denormals, the extremes, and ordinary numbers.
std::vector<double> SpecialValues() {
  return {0.0,
          -0.0,
          1.0,
          -1.0,
          2.0,
          0.5,
          3.25,
          -7.75,
          1e-310,
          -4.9e-324,
          std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(),
          FromBits(0x7ff8000000000123),
          FromBits(0xfff8000000000456),
          FromBits(0x7ff4000000000001),
          std::numeric_limits<double>::max(),
          std::numeric_limits<double>::min(),
          1e300,
          -1e-300,
          123.456};
}

std::vector<double> Values(std::size_t count, unsigned seed) {
  const std::vector<double> special = SpecialValues();
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(-20, 20);
  std::vector<double> values(count);
  for (std::size_t i = 0; i < count; ++i)
    values[i] = random() % 3 == 0 ? special[random() % special.size()] : uniform(random);
  return values;
}

double Twice(double x) { return 2 * x + 0.25; }
double Spread(std::span<const double> values) {
  double total = 0;
  for (std::size_t i = 0; i < values.size(); ++i) total += values[i] * static_cast<double>(i + 1);
  return total;
}

void Define(MathUtils::Parser& parser, double& x, double& y, double& z) {
  parser.AddVariable("x", &x);
  parser.AddVariable("y", &y);
  parser.AddVariable("z", &z);
  parser.AddFunction("twice", Twice, false);
  parser.AddFunction("spread", Spread, false);
  // Callable objects with state, called with their context.
  parser.AddFunction(
      "scaled", [factor = 1.5](double v) { return v * factor + 0.125; }, false);
  parser.AddFunction(
      "weighted",
      [offset = 0.5](std::span<const double> values) {
        double total = offset;
        for (const double v : values) total = total * 0.5 + v;
        return total;
      },
      false);
}

const char* const Formulas[] = {
    "x",
    "2+3",
    "x + y",
    "x - y * 3 / z",
    "x / 4 - y / 3",
    "x < y",
    "x <= y",
    "x > y",
    "x >= y",
    "x == y",
    "x != y",
    "x and y",
    "x or z",
    "-x + abs(y)",
    "sqrt(x) + sqrt(y*y)",
    "x^2 + y^1 - z^3",
    "x^y",
    "min(x, y, z) + max(y, x)",
    "min(x, y) - max(z, y, x)",
    "sum(x, y, z) * avg(x, y)",
    "sinr(x) + cosr(y) * tanr(z)",
    "sin(x) - ln(y) + exp(z/100)",
    "atan(x) + sign(y) + rint(z)",
    "(x + 1)m - (y)mc",
    "twice(x) + twice(y * z)",
    "spread(x, y, z, 1)",
    "scaled(x) - weighted(y, x, z, scaled(y))",
    "x + (y * (z - (x + (y * (z - (x + (y * (z - (x + (y * (z - (x + weighted(x, y)))))))))))))",
    "x + (y + (z + (x + (y + (z + (x + (y + (z + (x + (y + (z + (x + (y + (z + (x + (y + z))))))))))))))))",
    "x * (y - (z * (x - (y * (z - (x * (y - (z * (x - (y * (z - sinr(x * (y - z)))))))))))))",
    "max(x, y, z, x*y, x*z, y*z, x+y, x+z, y+z, x-y, x-z, y-z, x/y, y/z, z/x, 1)",
    "sum(x, y, z, x*y, x*z, y*z, x+y, x+z, y+z, x-y, x-z, y-z, x/y, y/z, z/x, sqrt(x))",
    // More numbers than the registers that hold numbers; x read many times.
    "x*1.5 + y*2.5 - z*3.5 + x/7 + y/9 - 11 + z*13 + 17/x + 19 - x*0.1 + x/8 - y/0.25 + 1.5*x",
    "(0/0) * x + y - (0/0)",
    "-0 + x * -0 - (y - -0)",
};

// What Evaluate gives at each point, the variables set one point at a time.
std::vector<double> PointByPoint(const std::string& formula, const std::vector<double>& xs,
                                 const std::vector<double>& ys, double zValue) {
  MathUtils::Parser parser;
  double x = 0, y = 0, z = zValue;
  Define(parser, x, y, z);
  parser.AssignFormula(formula);
  std::vector<double> results(xs.size());
  for (std::size_t i = 0; i < xs.size(); ++i) {
    x = xs[i];
    y = ys[i];
    results[i] = parser.Evaluate();
  }
  return results;
}

std::vector<double> OverArrays(const std::string& formula, const Tier& tier, const double* xs,
                               const double* ys, double zValue, std::size_t count, bool warm) {
  ArrayParser parser;
  double x = 0.5, y = 0.5, z = zValue;
  Define(parser, x, y, z);
  parser.SetMachineCode(tier.MachineCode);
  parser.SetArrayLanes(tier.Lanes);
  parser.AssignFormula(formula);
  const VariableArray arrays[] = {{&x, xs}, {&y, ys}};
  if (warm) {
    // Enough points to have the machine code made before the measured call.
    std::vector<double> many(2100, 1.5), out(2100);
    const VariableArray warmArrays[] = {{&x, many.data()}, {&y, many.data()}};
    parser.EvaluateArrays(warmArrays, out);
  }
  std::vector<double> results(count, -99);
  std::size_t written = 12345;
  parser.EvaluateArrays(arrays, results, &written);
  EXPECT_EQ(written, count);
  EXPECT_EQ(x, 0.5) << "the variables are not written";
  // Every formula that did not fold to one number has machine code by now.
  if (warm && tier.MachineCode && MathUtils::detail::ArrayCode::WidestLanes() > 1 && parser.Running()) {
    EXPECT_GT(parser.ArrayCodeLanes(), 0) << formula;
  }
  return results;
}

// Lengths around every lane width, and arrays that start off alignment.
constexpr std::size_t Lengths[] = {0, 1, 2, 3, 5, 7, 8, 9, 15, 17, 37, 300};

TEST(EvaluateArrays, EveryFormulaTierLengthAndAlignmentGivesEvaluateBits) {
  for (const char* formula : Formulas) {
    for (const std::size_t length : Lengths) {
      const std::vector<double> xs = Values(length + 1, 7 + static_cast<unsigned>(length));
      const std::vector<double> ys = Values(length + 1, 99 + static_cast<unsigned>(length));
      // Offset by one double: no longer aligned to 16 bytes if it was.
      const std::vector<double> xsAt(xs.begin() + 1, xs.end()), ysAt(ys.begin() + 1, ys.end());
      const std::vector<double> expected = PointByPoint(formula, xsAt, ysAt, 2.5);
      for (const Tier& tier : Tiers) {
        for (const bool warm : {false, true}) {
          const std::string context = std::string(formula) + " [" + tier.Name + (warm ? ", warm" : "") +
                                      "] length " + std::to_string(length);
          ExpectSameBits(expected, OverArrays(formula, tier, xs.data() + 1, ys.data() + 1, 2.5, length, warm),
                         context);
        }
      }
    }
  }
}

// A formula nested so deep that its program has more slots than a frame
// of whole blocks holds on the stack.
std::string Nested(int depth) {
  std::string formula;
  for (int i = 0; i < depth; ++i) formula += i % 2 ? "y*(" : "x+(";
  formula += "sin(x)";
  return formula + std::string(static_cast<std::size_t>(depth), ')');
}

// Without machine code the program runs over blocks of points: lengths
// around whole blocks, from the point after the compiled one (cold) or
// from the first (warm), for programs of a few slots, of many (small
// blocks in a frame on the heap), of built-ins only and of callbacks of
// the user's (run point by point).
TEST(EvaluateArrays, InterpretedBlocksOfEveryLengthGiveEvaluateBits) {
  const std::size_t wide = MathUtils::detail::BlockPoints(1);
  const std::size_t narrow = MathUtils::detail::BlockPoints(299);
  ASSERT_LT(narrow, wide);
  const std::vector<std::size_t> lengths = {1,        2,    narrow - 1, narrow,   narrow + 1,   narrow + 2,
                                            wide - 1, wide, wide + 1,   wide + 2, 2 * wide + 1, 3 * wide + 5};
  const std::string formulas[] = {"x * y - sqrt(x) / (y + 1)",
                                  "min(x, y, z) + sinr(x) * y^2 - x^y + sum(x, y)",
                                  "x",
                                  "z * 2",
                                  "twice(x) - y",
                                  Nested(150)};
  for (const std::string& formula : formulas) {
    for (const std::size_t length : lengths) {
      const std::vector<double> xs = Values(length, 31 + static_cast<unsigned>(length));
      const std::vector<double> ys = Values(length, 37 + static_cast<unsigned>(length));
      const std::vector<double> expected = PointByPoint(formula, xs, ys, -1.75);
      for (const bool warm : {false, true})
        ExpectSameBits(
            expected, OverArrays(formula, Tiers[0], xs.data(), ys.data(), -1.75, length, warm),
            formula.substr(0, 40) + (warm ? " warm" : " cold") + " length " + std::to_string(length));
    }
  }
}

// The results written over a value array that the result itself reads,
// block after block.
TEST(EvaluateArrays, InterpretedResultsInPlaceOfTheirOwnValues) {
  const std::size_t count = 3 * MathUtils::detail::BlockPoints(1) + 7;
  const std::vector<double> xs = Values(count, 41), ys = Values(count, 42);
  for (const char* formula : {"x", "y", "y - x * 0.5", "sqrt(y) + x"}) {
    const std::vector<double> expected = PointByPoint(formula, xs, ys, 1);
    ArrayParser parser;
    double x = 0, y = 0, z = 1;
    Define(parser, x, y, z);
    parser.SetMachineCode(false);
    parser.AssignFormula(formula);
    parser.Evaluate();
    std::vector<double> inPlace = ys;
    const VariableArray arrays[] = {{&x, xs.data()}, {&y, inPlace.data()}};
    std::size_t written = 0;
    parser.EvaluateArrays(arrays, inPlace, &written);
    EXPECT_EQ(written, count);
    ExpectSameBits(expected, inPlace, std::string("in place of y: ") + formula);
  }
}

// Results of many points go around the caches from the first aligned
// vector on; the points before it and after the last whole group run apart.
TEST(EvaluateArrays, ManyPointsAtEveryAlignmentOfTheResults) {
  const std::size_t count = 5000 + 13;
  const std::size_t saved = MathUtils::detail::StreamingPoints();
  MathUtils::detail::SetStreamingPoints(5000);
  const std::vector<double> xs = Values(count + 8, 3), ys = Values(count + 8, 4);
  const std::string formula = "x * y - sqrt(x) / (y + 1)";
  const std::vector<double> expected = PointByPoint(formula, xs, ys, 2.5);
  for (const int lanes : {2, 4, 8}) {
    ArrayParser parser;
    double x = 0, y = 0, z = 2.5;
    Define(parser, x, y, z);
    parser.SetMachineCode(true);
    parser.SetArrayLanes(lanes);
    parser.AssignFormula(formula);
    std::vector<double> results(count + 8);
    for (std::size_t offset = 0; offset < 8; offset += 3) {
      const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
      std::size_t written = 0;
      parser.EvaluateArrays(arrays, std::span<double>(results.data() + offset, count), &written);
      EXPECT_EQ(written, count);
      ExpectSameBits(
          std::vector<double>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(count)),
          std::vector<double>(results.begin() + static_cast<std::ptrdiff_t>(offset),
                              results.begin() + static_cast<std::ptrdiff_t>(offset + count)),
          formula + " lanes " + std::to_string(lanes) + " offset " + std::to_string(offset));
    }
  }
  MathUtils::detail::SetStreamingPoints(saved);
}

TEST(EvaluateArrays, MachineCodeRunsTheLanesAsked) {
  const int widest = MathUtils::detail::ArrayCode::WidestLanes();
  if (widest == 1) GTEST_SKIP() << "no machine code over arrays in this build";
  for (const int lanes : {1, 2, 4, 8}) {
    ArrayParser parser;
    double x = 0;
    parser.AddVariable("x", &x);
    parser.SetMachineCode(true);
    parser.SetArrayLanes(lanes);
    parser.AssignFormula("x * 2 + 1");
    std::vector<double> xs(3000, 1), out(3000);
    const VariableArray arrays[] = {{&x, xs.data()}};
    parser.EvaluateArrays(arrays, out);
    EXPECT_EQ(parser.ArrayCodeLanes(), std::min(lanes, widest)) << lanes;
    EXPECT_EQ(out[2999], 3);
  }
}

TEST(EvaluateArrays, UserCallbacksRunOnePointAtATimeInOrder) {
  ArrayParser parser;
  double x = 0;
  static std::vector<double> Calls;
  Calls.clear();
  parser.AddVariable("x", &x);
  parser.AddFunction(
      "f", +[](double v) { return Calls.push_back(v), v + 1; }, false);
  parser.AddFunction(
      "g", +[](double v) { return Calls.push_back(-v), v * 2; }, false);
  parser.SetMachineCode(true);
  parser.AssignFormula("f(x) + g(x)");
  std::vector<double> xs(2500), out(2500);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i + 1);
  const VariableArray arrays[] = {{&x, xs.data()}};
  parser.EvaluateArrays(arrays, out);
  EXPECT_EQ(parser.ArrayCodeLanes(), MathUtils::detail::ArrayCode::WidestLanes() > 1 ? 1 : 0);
  ASSERT_EQ(Calls.size(), 5000u);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    EXPECT_EQ(Calls[2 * i], xs[i]);
    EXPECT_EQ(Calls[2 * i + 1], -xs[i]);
    EXPECT_EQ(out[i], 3 * xs[i] + 1);
  }
}

double ThrowAtSeven(double v) {
  if (v == 7) throw std::runtime_error("seven");
  return v;
}

TEST(EvaluateArrays, AnExceptionLeavesThePointsBeforeItWritten) {
  for (const Tier& tier : Tiers) {
    for (const bool warm : {false, true}) {
      ArrayParser parser;
      double x = 0;
      parser.AddVariable("x", &x);
      parser.AddFunction("f", ThrowAtSeven, false);
      parser.SetMachineCode(tier.MachineCode);
      parser.SetArrayLanes(tier.Lanes);
      parser.AssignFormula("f(x) * 2");
      if (warm) {
        std::vector<double> ones(2100, 1), out(2100);
        const VariableArray arrays[] = {{&x, ones.data()}};
        parser.EvaluateArrays(arrays, out);
      }
      std::vector<double> xs(20), out(20, -1);
      for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i);
      const VariableArray arrays[] = {{&x, xs.data()}};
      std::size_t written = 99;
      EXPECT_THROW(parser.EvaluateArrays(arrays, out, &written), std::runtime_error) << tier.Name;
      EXPECT_EQ(written, 7u) << tier.Name << (warm ? " warm" : "");
      for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(out[i], 2 * xs[i]) << tier.Name;
      // Still usable afterwards.
      xs[7] = 8;
      EXPECT_NO_THROW(parser.EvaluateArrays(arrays, out, &written));
      EXPECT_EQ(written, 20u);
    }
  }
}

TEST(EvaluateArrays, VariablesNotListedKeepTheirValueAndCallbacksMayChangeThem) {
  static double* Held = nullptr;
  for (const Tier& tier : Tiers) {
    ArrayParser parser;
    double x = 0, y = 10;
    Held = &y;
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    // Adds one to y at each point: a later point sees the new value, as
    // evaluating point by point would.
    parser.AddFunction(
        "bump", +[](double v) { return *Held += 1, v; }, false);
    parser.SetMachineCode(tier.MachineCode);
    parser.SetArrayLanes(tier.Lanes);
    parser.AssignFormula("bump(x) + y");
    std::vector<double> xs(2500, 0), out(2500);
    const VariableArray arrays[] = {{&x, xs.data()}};
    parser.EvaluateArrays(arrays, out);
    for (std::size_t i = 0; i < 2500; ++i)
      ASSERT_EQ(out[i], 11 + static_cast<double>(i)) << tier.Name << " " << i;
  }
}

#ifdef VORNCALC_TEST_MXCSR
// Denormals-are-zero and flush-to-zero change what + and * give; every
// lane must change as the one-point code does.
TEST(EvaluateArrays, DenormalsAreZeroAndFlushToZeroAlike) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);
  const std::vector<double> xs = {1e-310, -2e-310, 3e-308, 1e-320, 5.0, -0.0, 2.2e-308, 1e-300, 7e-310};
  const std::vector<double> ys = {1e-10, 1e-5, 1e-10, 2.0, 1e-310, 1e-310, 0.5, 1e-10, -1e-310};
  for (const char* formula : {"x * y", "x + y", "x / y", "min(x, y)", "max(x, y) - x", "sqrt(x)", "x == y"}) {
    const std::vector<double> expected = PointByPoint(formula, xs, ys, 1);
    for (const Tier& tier : Tiers)
      for (const bool warm : {false, true})
        ExpectSameBits(expected, OverArrays(formula, tier, xs.data(), ys.data(), 1, xs.size(), warm),
                       std::string(formula) + " under DAZ/FTZ [" + tier.Name + "]");
  }
  _mm_setcsr(saved);
}
#endif

// Several threads over arrays of one compiled parser, while the machine
// code over arrays is made by whichever gets there first.
// Without machine code, each thread runs its blocks on a frame of its own.
TEST(EvaluateArrays, ThreadsAtOnceOnOneParser) {
  for (const bool machineCode : {true, false}) {
    ArrayParser parser;
    double x = 0, y = 0, z = 3;
    Define(parser, x, y, z);
    parser.SetMachineCode(machineCode);
    parser.AssignFormula("x * y + z / (x + 1) - sqrt(y)");
    parser.Evaluate();
    const std::vector<double> xs = Values(3000, 11), ys = Values(3000, 12);
    const std::vector<double> expected = PointByPoint("x * y + z / (x + 1) - sqrt(y)", xs, ys, 3);
    std::vector<std::vector<double>> results(4, std::vector<double>(xs.size()));
    std::vector<std::thread> threads;
    for (auto& out : results)
      threads.emplace_back([&parser, &x, &y, &xs, &ys, &out] {
        const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
        for (int round = 0; round < 3; ++round) parser.EvaluateArrays(arrays, out);
      });
    for (std::thread& thread : threads) thread.join();
    for (const auto& out : results)
      ExpectSameBits(expected, out,
                     machineCode ? "a thread over arrays" : "a thread over arrays, interpreted");
  }
}

// The results may overwrite the values they are computed from: each point
// is read before its result is written, in lanes and one at a time.
TEST(EvaluateArrays, ResultsInPlaceOfTheValues) {
  const std::vector<double> xs = Values(3000, 21), ys = Values(3000, 22);
  const std::vector<double> expected = PointByPoint("x * y - x / 3", xs, ys, 1);
  for (const Tier& tier : Tiers) {
    ArrayParser parser;
    double x = 0, y = 0, z = 1;
    Define(parser, x, y, z);
    parser.SetMachineCode(tier.MachineCode);
    parser.SetArrayLanes(tier.Lanes);
    parser.AssignFormula("x * y - x / 3");
    std::vector<double> inPlace = xs;
    const VariableArray arrays[] = {{&x, inPlace.data()}, {&y, ys.data()}};
    parser.EvaluateArrays(arrays, inPlace);
    ExpectSameBits(expected, inPlace, std::string("in place [") + tier.Name + "]");
  }
}

TEST(EvaluateArrays, ErrorsOfCompilationLeaveNothingWritten) {
  ArrayParser parser;
  double x = 0;
  parser.AddVariable("x", &x);
  parser.AssignFormula("x +");
  std::vector<double> xs(10, 1), out(10);
  const VariableArray arrays[] = {{&x, xs.data()}};
  std::size_t written = 5;
  EXPECT_THROW(parser.EvaluateArrays(arrays, out, &written), MathUtils::ParserException);
  EXPECT_EQ(written, 0u);
}

// The variables themselves are never written, also not by the call that
// compiles: a listed address may be read-only memory, and a callback sees
// the variable's own value at every point.
TEST(EvaluateArrays, ReadOnlyVariablesAndUnknownAddressesAreNeverWritten) {
  static const double Unknown = 7;  // read-only data the parser knows nothing of
  for (const Tier& tier : Tiers) {
    for (const bool warm : {false, true}) {
      SCOPED_TRACE(std::string(tier.Name) + (warm ? " warm" : " first call"));
      ArrayParser parser;
      double x = 100;
      parser.AddVariable("x", &x);
      parser.SetMachineCode(tier.MachineCode);
      parser.SetArrayLanes(tier.Lanes);
      parser.AssignFormula("x*2+1");
      if (warm) parser.Evaluate();
      const std::vector<double> values = {1, 2, 3, 4, 5};
      std::vector<double> out(values.size());
      const VariableArray unknown[] = {{&Unknown, values.data()}};
      parser.EvaluateArrays(unknown, out);
      EXPECT_EQ(out, std::vector<double>(5, 201)) << "an address the parser does not know is not read";
      EXPECT_EQ(Unknown, 7);
      EXPECT_EQ(x, 100);
    }
  }
}

#if !defined(_WIN32)
TEST(EvaluateArrays, AVariableOnAReadOnlyPageIsReadNeverWritten) {
  const long pageSize = sysconf(_SC_PAGESIZE);
  for (const Tier& tier : Tiers) {
    void* page = mmap(nullptr, static_cast<std::size_t>(pageSize), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    double* x = static_cast<double*>(page);
    *x = 100;
    ASSERT_EQ(mprotect(page, static_cast<std::size_t>(pageSize), PROT_READ), 0);
    {
      ArrayParser parser;
      parser.AddVariable("x", x);
      parser.SetMachineCode(tier.MachineCode);
      parser.SetArrayLanes(tier.Lanes);
      parser.AssignFormula("x*2+1");
      std::vector<double> values(3000), out(values.size());
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
      const VariableArray arrays[] = {{x, values.data()}};
      parser.EvaluateArrays(arrays, out);  // compiles at the first point
      parser.EvaluateArrays(arrays, out);  // machine code, where there is some
      for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(out[i], 2 * values[i] + 1) << tier.Name << i;
      EXPECT_EQ(parser.Evaluate(), 201);
    }
    munmap(page, static_cast<std::size_t>(pageSize));
  }
}
#endif

TEST(EvaluateArrays, TheSameVariableListedTwiceIsRefusedAndNothingRuns) {
  static int Calls = 0;
  for (const bool compiled : {false, true}) {
    ArrayParser parser;
    double x = 100, y = 0;
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    parser.AddFunction(
        "f", +[](double v) { return ++Calls, v; }, false);
    parser.AssignFormula("f(x)*2+1");
    if (compiled) parser.Evaluate();
    Calls = 0;
    std::vector<double> a(40, 1), b(40, -1), out(40, -5);
    std::vector<VariableArray> arrays = {{&x, a.data()}, {&y, b.data()}, {&x, b.data()}};
    // Many variables, one of them twice, as a longer list is checked.
    std::vector<double> others(40);
    for (int k = 0; k < 40; ++k) arrays.push_back({&others[static_cast<std::size_t>(k)], a.data()});
    for (const std::size_t count : {std::size_t{3}, arrays.size()}) {
      std::size_t written = 9;
      EXPECT_PARSER_ERROR(
          parser.EvaluateArrays(std::span<const VariableArray>(arrays.data(), count), out, &written),
          "Variable listed twice in the arrays!");
      EXPECT_EQ(written, 0u);
    }
    EXPECT_EQ(Calls, 0);
    EXPECT_EQ(out, std::vector<double>(40, -5));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(parser.Running(), compiled) << "an argument error leaves the parser as it was";
    const VariableArray nulls[][1] = {{{nullptr, a.data()}}, {{&x, nullptr}}};
    for (const auto& refused : nulls)
      EXPECT_PARSER_ERROR(parser.EvaluateArrays(refused, out),
                          "Variable or values address of an array is null!");
    const VariableArray once[] = {{&x, a.data()}, {&y, b.data()}};
    parser.EvaluateArrays(once, out);
    EXPECT_EQ(out, std::vector<double>(40, 3));
  }
}

double* Watched = nullptr;
std::vector<double> Seen;
double Watch(double v) {
  Seen.push_back(*Watched);
  *Watched = 555;  // the callback's own write stays
  return v;
}

TEST(EvaluateArrays, ACallbackSeesTheVariablesOwnValueAtEveryPoint) {
  for (const Tier& tier : Tiers) {
    for (const bool warm : {false, true}) {
      SCOPED_TRACE(std::string(tier.Name) + (warm ? " warm" : " first call"));
      ArrayParser parser;
      double x = 100;
      Watched = &x;
      parser.AddVariable("x", &x);
      parser.AddFunction("watch", Watch, false);
      parser.SetMachineCode(tier.MachineCode);
      parser.SetArrayLanes(tier.Lanes);
      parser.AssignFormula("watch(x) + x");
      if (warm) parser.Evaluate();
      x = 100;
      Seen.clear();
      const std::vector<double> values = {1, 2, 3, 4};
      std::vector<double> out(values.size());
      const VariableArray arrays[] = {{&x, values.data()}};
      parser.EvaluateArrays(arrays, out);
      EXPECT_EQ(out, (std::vector<double>{2, 4, 6, 8}));
      EXPECT_EQ(Seen, (std::vector<double>{100, 555, 555, 555}));
      EXPECT_EQ(x, 555);
    }
  }
}

// Parsers of their own, bound to one variable, each compiling at its first
// call over arrays on its own thread: none writes the variable.
TEST(EvaluateArrays, ParsersOnThreadsCompilingOverOneVariable) {
  double x = 100;
  const std::vector<double> values = Values(64, 5);
  const std::vector<double> expected = PointByPoint("x * 3 - 1", values, values, 0);
  std::vector<std::thread> threads;
  std::vector<int> wrong(2, 0);
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&x, &values, &expected, &wrong, t] {
      for (int round = 0; round < 200; ++round) {
        MathUtils::Parser parser;
        parser.AddVariable("x", &x);
        parser.AssignFormula("x * 3 - 1");
        std::vector<double> out(values.size());
        const VariableArray arrays[] = {{&x, values.data()}};
        parser.EvaluateArrays(arrays, out);
        for (std::size_t i = 0; i < out.size(); ++i)
          if (Bits(out[i]) != Bits(expected[i])) ++wrong[static_cast<std::size_t>(t)];
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, (std::vector<int>{0, 0}));
  EXPECT_EQ(x, 100);
}

// A callback that changes its parser while the first point compiles: the
// call goes on with the formula it began with, as it does on a compiled
// parser, each point computed once; the next call takes the change.
struct ChangeAtFirstPoint {
  const char* Name;
  void (*Change)(MathUtils::Parser& parser);
  double NextAtOne;  // what the next call gives at x = 1
};

MathUtils::Parser* Changing = nullptr;
int TCalls = 0;
bool ChangeDone = false;
void (*PendingChange)(MathUtils::Parser&) = nullptr;

double T(double v) {
  ++TCalls;
  if (!ChangeDone) {
    ChangeDone = true;
    PendingChange(*Changing);
  }
  return v;
}

double Tripled(double v) { return 3 * v; }

const ChangeAtFirstPoint Changes[] = {
    {"AssignFormula", [](MathUtils::Parser& p) { p.AssignFormula("x*100"); }, 100},
    {"AddConstant", [](MathUtils::Parser& p) { p.AddConstant("k", 50); }, 52},
    {"AddFunction", [](MathUtils::Parser& p) { p.AddFunction("g", Tripled, false); }, 4},
    {"SetMachineCode", [](MathUtils::Parser& p) { p.SetMachineCode(false); }, 2},
    {"SetOptimizer", [](MathUtils::Parser& p) { p.SetOptimizer(false); }, 2},
};

TEST(EvaluateArrays, ACallbackThatChangesItsParserAtTheFirstPoint) {
  for (const ChangeAtFirstPoint& change : Changes) {
    for (const Tier& tier : Tiers) {
      for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(std::string(change.Name) + " [" + tier.Name + (inPlace ? "] in place" : "]"));
        ArrayParser parser;
        double x = 0;
        parser.AddVariable("x", &x);
        parser.AddConstant("k", 0);
        parser.AddFunction("t", T, false);
        parser.AddFunction(
            "g", +[](double v) { return v; }, false);
        parser.SetMachineCode(tier.MachineCode);
        parser.SetArrayLanes(tier.Lanes);
        // Names read after the change would be read as the callback left them
        // (the compilation reads the registries as it goes): t comes last.
        parser.AssignFormula("k+g(x)+t(x)");
        Changing = &parser;
        PendingChange = change.Change;
        ChangeDone = false;
        TCalls = 0;
        std::vector<double> xs(12), out(12);
        for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i + 1);
        std::vector<double>& results = inPlace ? xs : out;
        const VariableArray arrays[] = {{&x, xs.data()}};
        std::size_t written = 0;
        parser.EvaluateArrays(arrays, results, &written);
        EXPECT_EQ(written, 12u);
        EXPECT_EQ(TCalls, 12) << "each point once";
        for (std::size_t i = 0; i < results.size(); ++i)
          EXPECT_EQ(results[i], 2.0 * static_cast<double>(i + 1)) << i;
        // The next call runs what the callback left.
        const double one = 1;
        const VariableArray next[] = {{&x, &one}};
        double result = 0;
        parser.EvaluateArrays(next, std::span<double>(&result, 1));
        EXPECT_EQ(result, change.NextAtOne);
        EXPECT_EQ(x, 0);
      }
    }
  }
}

}  // namespace
