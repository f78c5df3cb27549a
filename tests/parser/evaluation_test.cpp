// Evaluation states: compile, run and constant, what sends the parser back
// to compiling, and which callbacks run again on later evaluations.
#include <functional>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Eval;

int Calls = 0;
bool FailNow = false;
double Tick(double) { return ++Calls; }
double Counted(double x) { return ++Calls, 2 * x; }
double FailOnRequest(double x) { return FailNow ? throw std::runtime_error("callback failed") : x; }
double Digits(std::span<const double> a) { return a.size() == 3 ? a[0] * 100 + a[1] * 10 + a[2] : -1; }
double Count(std::span<const double> a) { return static_cast<double>(a.size()); }

struct EvaluationTest : ::testing::Test {
  EvaluationTest() {
    Calls = 0;
    FailNow = false;
    Subject.AddVariable("x", &X);
    Subject.AddFunction("tick", Tick, false);
    Subject.AddFunction("counted", Counted);
    Subject.AddFunction("digits", Digits);
    Subject.AddFunction("count", Count);
    Subject.AddFunction("fail", FailOnRequest);
  }
  double X = 3;
  ParserTests::Probe Subject;
};

TEST_F(EvaluationTest, StateAfterCompilation) {
  const struct {
    const char* Formula;
    bool Folding, Constant;
  } cases[] = {{"2*3", true, true},      {"2*3", false, false},    {"7", false, true},
               {"-7", true, true},       {"-7", false, false},     {"x", true, false},
               {"x*0", true, false},     {"sin(30)", true, false}, {"cos(30)", true, true},
               {"sum(1,2)", true, true}, {"tick(1)", true, false}};
  for (const auto& c : cases) {
    Subject.SetOptimizer(c.Folding);
    ASSERT_TRUE(Subject.Compiling());
    const double first = Eval(Subject, c.Formula);
    EXPECT_EQ(Subject.Constant(), c.Constant) << c.Formula << " folding " << c.Folding;
    EXPECT_EQ(Subject.Running(), !c.Constant) << c.Formula << " folding " << c.Folding;
    if (c.Constant) {
      EXPECT_EQ(Subject.Evaluate(), first) << c.Formula;
    }
  }
}

TEST_F(EvaluationTest, EveryChangeSendsTheNextEvaluationToTheCompiler) {
  double y = 0;
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"AssignFormula", [&] { Subject.AssignFormula("x+1"); }},
      {"AddFunction", [&] { Subject.AddFunction("f", Tick); }},
      {"AddFunction list", [&] { Subject.AddFunction("g", Count); }},
      {"AddConstant", [&] { Subject.AddConstant("k", 1); }},
      {"AddPostfixOperator", [&] { Subject.AddPostfixOperator("pp", Tick); }},
      {"AddPrefixOperator", [&] { Subject.AddPrefixOperator("~", Tick); }},
      {"AddVariable", [&] { Subject.AddVariable("y", &y); }},
      {"SetOptimizer same", [&] { Subject.SetOptimizer(true); }},
      {"refused definition", [&] { EXPECT_THROW(Subject.AddConstant("", 1), ParserException); }},
  };
  for (const auto& [what, change] : changes) {
    Eval(Subject, "x+1");
    ASSERT_TRUE(Subject.Running());
    change();
    EXPECT_TRUE(Subject.Compiling()) << what;
    EXPECT_EQ(Subject.Evaluate(), 4) << what;
    X = 5;  // variables are read at each run, without recompiling
    EXPECT_EQ(Subject.Evaluate(), 6) << what;
    EXPECT_TRUE(Subject.Running()) << what;
    X = 3;
  }
}

TEST_F(EvaluationTest, AFormulaCanBeAssignedFromPartOfItself) {
  Subject.AssignFormula("1+2*3");
  const std::string_view own = Subject.GetFormula();
  const struct {
    std::string_view Part;
    double Value;
  } cases[] = {{own, 7}, {own.substr(2), 6}, {own.substr(4), 3}, {own.substr(0, 1), 1}};
  for (const auto& c : cases) {
    Subject.AssignFormula("1+2*3");
    Subject.AssignFormula(c.Part);
    EXPECT_EQ(Subject.Evaluate(), c.Value) << c.Part;
  }
}

TEST_F(EvaluationTest, CallbacksRunAgainOnlyWhenNotFolded) {
  EXPECT_EQ(Eval(Subject, "tick(0)*10"), 10);  // the call made while compiling
  EXPECT_EQ(Subject.Evaluate(), 20);
  EXPECT_EQ(Subject.Evaluate(), 30);
  const struct {
    const char* Formula;
    bool Folding;
    int Calls;
  } cases[] = {
      {"counted(1)", true, 1}, {"counted(1)", false, 3}, {"counted(x)", true, 3}, {"counted(1)+x", true, 1}};
  for (const auto& c : cases) {
    Calls = 0;
    Subject.SetOptimizer(c.Folding);
    Eval(Subject, c.Formula);
    Subject.Evaluate();
    Subject.Evaluate();
    EXPECT_EQ(Calls, c.Calls) << c.Formula << " folding " << c.Folding;
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
    Subject.SetOptimizer(folding);
    for (auto [formula, value] : atFive) {
      X = 3;
      Eval(Subject, formula);
      X = 5;
      EXPECT_EQ(Subject.Evaluate(), value) << formula << " folding " << folding;
    }
  }
}

TEST_F(EvaluationTest, RedefinitionsReachLaterRuns) {
  Subject.AddFunction("f", Counted);
  EXPECT_EQ(Eval(Subject, "x+f(x)"), 9);
  EXPECT_EQ(Subject.Evaluate(), 9);
  double other = 10;
  Subject.AddVariable("x", &other);
  EXPECT_EQ(Subject.Evaluate(), 30);
  EXPECT_EQ(Subject.Evaluate(), 30);
  Subject.AddFunction(
      "f", +[](double v) { return v / 2; });
  EXPECT_EQ(Subject.Evaluate(), 15);
  EXPECT_EQ(Subject.Evaluate(), 15);
}

TEST_F(EvaluationTest, CallbackErrorWhileRunningLeavesTheBytecodeInstalled) {
  EXPECT_EQ(Eval(Subject, "fail(x)+1"), 4);
  FailNow = true;
  EXPECT_THROW(Subject.Evaluate(), std::runtime_error);
  EXPECT_TRUE(Subject.Running());
  FailNow = false;
  EXPECT_EQ(Subject.Evaluate(), 4);
}

}  // namespace
