// Evaluation states: compile, run and constant, what sends the parser back
// to compiling, and which callbacks run again on later evaluations.
#include <functional>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Eval;

int calls = 0;
bool failNow = false;
double Tick(double) { return ++calls; }
double Counted(double x) { return ++calls, 2 * x; }
double FailOnRequest(double x) { return failNow ? throw std::runtime_error("callback failed") : x; }
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
  ParserTests::Probe parser;
};

TEST_F(EvaluationTest, StateAfterCompilation) {
  const struct {
    const char* formula;
    bool folding, constant;
  } cases[] = {{"2*3", true, true},      {"2*3", false, false},    {"7", false, true},
               {"-7", true, true},       {"-7", false, false},     {"x", true, false},
               {"x*0", true, false},     {"sin(30)", true, false}, {"cos(30)", true, true},
               {"sum(1,2)", true, true}, {"tick(1)", true, false}};
  for (const auto& c : cases) {
    parser.SetOptimizer(c.folding);
    ASSERT_TRUE(parser.Compiling());
    const double first = Eval(parser, c.formula);
    EXPECT_EQ(parser.Constant(), c.constant) << c.formula << " folding " << c.folding;
    EXPECT_EQ(parser.Running(), !c.constant) << c.formula << " folding " << c.folding;
    if (c.constant) {
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
    x = 5;  // variables are read at each run, without recompiling
    EXPECT_EQ(parser.Evaluate(), 6) << what;
    EXPECT_TRUE(parser.Running()) << what;
    x = 3;
  }
}

TEST_F(EvaluationTest, AFormulaCanBeAssignedFromPartOfItself) {
  parser.AssignFormula("1+2*3");
  const std::string_view own = parser.GetFormula();
  const struct {
    std::string_view Part;
    double Value;
  } cases[] = {{own, 7}, {own.substr(2), 6}, {own.substr(4), 3}, {own.substr(0, 1), 1}};
  for (const auto& c : cases) {
    parser.AssignFormula("1+2*3");
    parser.AssignFormula(c.Part);
    EXPECT_EQ(parser.Evaluate(), c.Value) << c.Part;
  }
}

TEST_F(EvaluationTest, CallbacksRunAgainOnlyWhenNotFolded) {
  EXPECT_EQ(Eval(parser, "tick(0)*10"), 10);  // the call made while compiling
  EXPECT_EQ(parser.Evaluate(), 20);
  EXPECT_EQ(parser.Evaluate(), 30);
  const struct {
    const char* formula;
    bool folding;
    int calls;
  } cases[] = {
      {"counted(1)", true, 1}, {"counted(1)", false, 3}, {"counted(x)", true, 3}, {"counted(1)+x", true, 1}};
  for (const auto& c : cases) {
    calls = 0;
    parser.SetOptimizer(c.folding);
    Eval(parser, c.formula);
    parser.Evaluate();
    parser.Evaluate();
    EXPECT_EQ(calls, c.calls) << c.formula << " folding " << c.folding;
  }
}

TEST_F(EvaluationTest, LaterRunsReadTheVariablesAnew) {
  const std::pair<const char*, double> atFive[] = {
      {"x", 5},
      {"(x)", 5},
      {"-x", -5},
      {"x^2", 25},
      {"2^x", 32},
      {"x*x-x", 20},
      {"1-x/x", 0},
      {"x<4", 0},
      {"x>=5 and 1", 1},
      {"sum(x,x,1)", 11},
      {"max(1,x)", 5},
      {"sum(x)", 5},
      {"(x)m", 5 * 0.001},
      {"sin(x*6)", 0.49999999999999994},
      {"-(x+1)^2", 36},
      {"2*3+x", 11},
      {"x+sum(x,2*3)", 16},
      {"avg(1,2,x,x*2,-x)", 2.6},
      {"digits(x,2,3)", 523},
      {"7+digits(x,x*2,-x)", 7 + 500 + 100 - 5},
      {"1+count(x,x,x,x,x,x)", 7},
      {"count(x)", 1}};  // list callbacks get their arguments in formula order
  for (bool folding : {true, false}) {
    parser.SetOptimizer(folding);
    for (auto [formula, value] : atFive) {
      x = 3;
      Eval(parser, formula);
      x = 5;
      EXPECT_EQ(parser.Evaluate(), value) << formula << " folding " << folding;
    }
  }
}

TEST_F(EvaluationTest, RedefinitionsReachLaterRuns) {
  parser.AddFunction("f", Counted);
  EXPECT_EQ(Eval(parser, "x+f(x)"), 9);
  EXPECT_EQ(parser.Evaluate(), 9);
  double other = 10;
  parser.AddVariable("x", &other);
  EXPECT_EQ(parser.Evaluate(), 30);
  EXPECT_EQ(parser.Evaluate(), 30);
  parser.AddFunction(
      "f", +[](double v) { return v / 2; });
  EXPECT_EQ(parser.Evaluate(), 15);
  EXPECT_EQ(parser.Evaluate(), 15);
}

TEST_F(EvaluationTest, CallbackErrorWhileRunningLeavesTheBytecodeInstalled) {
  EXPECT_EQ(Eval(parser, "fail(x)+1"), 4);
  failNow = true;
  EXPECT_THROW(parser.Evaluate(), std::runtime_error);
  EXPECT_TRUE(parser.Running());
  failNow = false;
  EXPECT_EQ(parser.Evaluate(), 4);
}

}  // namespace
