// Evaluation states: compile, run and constant, what sends the parser back
// to compiling, and which callbacks run again on later evaluations.
#include <functional>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Eval;
using ParserTests::Probe;

int calls = 0;
bool failNow = false;
double Tick(double) { return ++calls; }
double Counted(double x) {
  ++calls;
  return 2 * x;
}
double FailOnRequest(double x) {
  if (failNow) throw std::runtime_error("callback failed");
  return x;
}
double Digits(std::span<const double> a) { return a.size() == 3 ? a[0] * 100 + a[1] * 10 + a[2] : -1; }
double Count(std::span<const double> a) { return static_cast<double>(a.size()); }

struct EvaluationTest : ::testing::Test {
  EvaluationTest() {
    calls = 0;
    failNow = false;
    parser.AddVariable("x", &x);
    parser.AddFunction("tick", Tick, false);
    parser.AddFunction("counted", Counted);
    parser.AddFunction("digits", Digits);
    parser.AddFunction("count", Count);
    parser.AddFunction("fail", FailOnRequest);
  }
  double x = 3;
  Probe parser;
};

TEST_F(EvaluationTest, StateAfterCompilation) {
  enum State { Run, Constant };
  const struct {
    const char* formula;
    bool folding;
    State state;
  } cases[] = {{"2*3", true, Constant},   {"2*3", false, Run},   {"7", false, Constant},
               {"-7", true, Constant},    {"-7", false, Run},    {"x", true, Run},
               {"x*0", true, Run},        {"sin(30)", true, Run}, {"cos(30)", true, Constant},
               {"sum(1,2)", true, Constant}, {"tick(1)", true, Run}};
  for (const auto& c : cases) {
    parser.SetOptimizer(c.folding);
    ASSERT_TRUE(parser.Compiling());
    const double first = Eval(parser, c.formula);
    EXPECT_EQ(parser.Constant(), c.state == Constant) << c.formula << " folding " << c.folding;
    EXPECT_EQ(parser.Running(), c.state == Run) << c.formula << " folding " << c.folding;
    if (c.state == Constant) {
      EXPECT_EQ(parser.Evaluate(), first) << c.formula;
    }
  }
}

TEST_F(EvaluationTest, EveryChangeSendsTheNextEvaluationToTheCompiler) {
  double y = 0;
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"AssignFormula", [&] { parser.AssignFormula("x+1"); }},
      {"AddFunction", [&] { parser.AddFunction("f", Tick); }},
      {"AddFunction list", [&] { parser.AddFunction("g", Count); }},
      {"AddConstant", [&] { parser.AddConstant("k", 1); }},
      {"AddPostfixOperator", [&] { parser.AddPostfixOperator("pp", Tick); }},
      {"AddPrefixOperator", [&] { parser.AddPrefixOperator("~", Tick); }},
      {"AddVariable", [&] { parser.AddVariable("y", &y); }},
      {"SetOptimizer same", [&] { parser.SetOptimizer(true); }},
      {"refused definition", [&] { EXPECT_THROW(parser.AddConstant("", 1), ParserException); }},
  };
  for (const auto& [what, change] : changes) {
    Eval(parser, "x+1");
    ASSERT_TRUE(parser.Running());
    change();
    EXPECT_TRUE(parser.Compiling()) << what;
    EXPECT_EQ(parser.Evaluate(), 4) << what;
    EXPECT_TRUE(parser.Running()) << what;
  }
}

TEST_F(EvaluationTest, NotOptimisableCallbackRunsOnEveryEvaluation) {
  EXPECT_EQ(Eval(parser, "tick(0)*10"), 10);  // the call made while compiling
  EXPECT_EQ(parser.Evaluate(), 20);
  EXPECT_EQ(parser.Evaluate(), 30);
  EXPECT_EQ(calls, 3);
}

TEST_F(EvaluationTest, OptimisableCallbackIsFoldedOnlyWhenAllowed) {
  const struct {
    const char* formula;
    bool folding;
    int calls;
  } cases[] = {{"counted(1)", true, 1}, {"counted(1)", false, 3}, {"counted(x)", true, 3}, {"counted(1)+x", true, 1}};
  for (const auto& c : cases) {
    calls = 0;
    parser.SetOptimizer(c.folding);
    Eval(parser, c.formula);
    parser.Evaluate();
    parser.Evaluate();
    EXPECT_EQ(calls, c.calls) << c.formula << " folding " << c.folding;
  }
}

TEST_F(EvaluationTest, VariablesAreReadAtEachEvaluation) {
  EXPECT_EQ(Eval(parser, "x*2+1"), 7);
  x = 5;
  EXPECT_EQ(parser.Evaluate(), 11);
  EXPECT_TRUE(parser.Running());
  x = -1;
  EXPECT_EQ(parser.Evaluate(), -1);
}

TEST_F(EvaluationTest, ListCallbackGetsArgumentsInFormulaOrder) {
  for (bool folding : {true, false}) {
    parser.SetOptimizer(folding);
    x = 1;
    EXPECT_EQ(Eval(parser, "digits(x,2,3)"), 123);
    x = 4;
    EXPECT_EQ(parser.Evaluate(), 423);
    EXPECT_EQ(Eval(parser, "7+digits(x,x*2,-x)"), 7 + 400 + 80 - 4);
    EXPECT_EQ(parser.Evaluate(), 7 + 400 + 80 - 4);
    EXPECT_EQ(Eval(parser, "1+count(x,x,x,x,x,x)"), 7);
    EXPECT_EQ(parser.Evaluate(), 7);
    EXPECT_EQ(Eval(parser, "count(x)"), 1);
    EXPECT_EQ(parser.Evaluate(), 1);
  }
}

TEST_F(EvaluationTest, CallbackErrorWhileRunningLeavesTheBytecodeInstalled) {
  EXPECT_EQ(Eval(parser, "fail(x)+1"), 4);
  failNow = true;
  EXPECT_THROW(parser.Evaluate(), std::runtime_error);
  EXPECT_TRUE(parser.Running());
  failNow = false;
  EXPECT_EQ(parser.Evaluate(), 4);
}

TEST_F(EvaluationTest, FailedCompilationRecompilesOnceFixed) {
  parser.AssignFormula("1+");
  EXPECT_THROW(parser.Evaluate(), ParserException);
  EXPECT_TRUE(parser.Compiling());
  EXPECT_THROW(parser.Evaluate(), ParserException);  // still the same formula
  parser.AssignFormula("1+x");
  EXPECT_EQ(parser.Evaluate(), 4);
  EXPECT_EQ(parser.Evaluate(), 4);
}

}  // namespace
