// One parser evaluated from two threads at once, its formula and
// definitions left alone: each call runs on slots of its own, and the
// switch to machine code, made by whichever thread gets there first, is
// published whole. Run under ThreadSanitizer by the tsan stage.
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;

// Throws on every other call in the threads that ask for it, so that an
// exception caught in one thread's run meets a normal return in the other's.
thread_local bool ThrowsHere = false;
thread_local int CallsHere = 0;

double Checked(double value) {
  if (ThrowsHere && ++CallsHere % 2 == 0) throw std::runtime_error("every other call");
  return value + 1;
}

struct Outcome {
  int Matches = 0;
  int Thrown = 0;
  int Wrong = 0;
};

Outcome EvaluateMany(ParserBase& parser, double expected, int count, bool throwing) {
  ThrowsHere = throwing;
  CallsHere = 0;
  Outcome outcome;
  for (int i = 0; i < count; ++i) {
    try {
      if (parser.Evaluate() == expected)
        ++outcome.Matches;
      else
        ++outcome.Wrong;
    } catch (const std::runtime_error&) {
      ++outcome.Thrown;
    }
  }
  ThrowsHere = false;
  return outcome;
}

// More evaluations than the interpreted tier runs before the machine code
// is made, so both threads cross the switch.
constexpr int Evaluations = 2500;

class Threads : public ::testing::TestWithParam<const char*> {};

TEST_P(Threads, TwoThreadsAgreeWithOne) {
  double x = 0.75, y = -2;
  const auto setUp = [&](Parser& parser) {
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    parser.AddFunction("c", Checked, false);
    parser.SetMachineCode(true);
    parser.AssignFormula(GetParam());
  };
  Parser single;
  setUp(single);
  const double expected = single.Evaluate();
  const Outcome alone = EvaluateMany(single, expected, Evaluations, false);
  EXPECT_EQ(alone.Matches, Evaluations);
  const Outcome aloneThrowing = EvaluateMany(single, expected, Evaluations, true);
  EXPECT_EQ(aloneThrowing.Wrong, 0);

  Parser shared;
  setUp(shared);
  ASSERT_EQ(shared.Evaluate(), expected);  // compiled before the threads start
  Outcome first, second;
  std::thread one([&] { first = EvaluateMany(shared, expected, Evaluations, true); });
  std::thread two([&] { second = EvaluateMany(shared, expected, Evaluations, false); });
  one.join();
  two.join();
  EXPECT_EQ(first.Wrong, 0);
  EXPECT_EQ(first.Matches, aloneThrowing.Matches);
  EXPECT_EQ(first.Thrown, aloneThrowing.Thrown);
  EXPECT_EQ(second.Wrong, 0);
  EXPECT_EQ(second.Matches, Evaluations);
  EXPECT_EQ(shared.Evaluate(), expected);
}

INSTANTIATE_TEST_SUITE_P(Formulas, Threads,
                         ::testing::Values("c(x) + sin(x)*2 - sqrt(x+1)",
                                           "sum(x, y, c(x), 2) + (x + (y + (x + (y + (x + (y + (x + (y + (x "
                                           "+ (y + (x + (y + (x + (y + (x + c(y))))))))))))))))",
                                           "c(x)*0 + x*y + x/y - x", "x*y + x/y - x"));

}  // namespace
