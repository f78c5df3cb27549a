// The parser object's compiled formulas: those that callbacks replace while
// they may still run are kept, then reused or freed once no callback runs,
// and at the parser's end; what the accessors give before there is any.
// (The sanitizers report a formula freed too early or never.)
#include <memory>
#include <vector>

#include "parser_test_support.h"

namespace {

MathUtils::Parser* Subject = nullptr;
int Recompilations = 0;
bool NestWhileCompiling = false;
std::vector<double> InnerValues;

// While armed, assigns a formula that calls it again and evaluates it,
// which compiles the formula under the callback.
double RecompileWhileArmed(double value) {
  if (Recompilations > 0) {
    --Recompilations;
    Subject->AssignFormula("x + t(x) + 1");
    InnerValues.push_back(Subject->Evaluate());
  }
  return value;
}

// Folded while the formula compiles: while armed, evaluates the parser,
// which compiles the same formula within that compilation.
double EvaluateWhileCompiling(double value) {
  if (NestWhileCompiling) {
    NestWhileCompiling = false;
    InnerValues.push_back(Subject->Evaluate());
  }
  return value;
}

// A callback that assigns "x + r(1)" and evaluates it: compiling it runs r.
double AssignNestingFormula(double value) {
  if (Recompilations > 0) {
    --Recompilations;
    Subject->AssignFormula("x + r(1)");
    InnerValues.push_back(Subject->Evaluate());
  }
  return value;
}

// Folded while the formula compiles: while armed, assigns two formulas.
double AssignTwiceWhileCompiling(double value) {
  if (NestWhileCompiling) {
    NestWhileCompiling = false;
    Subject->AssignFormula("x * 10");
    Subject->AssignFormula("x * 100");
  }
  return value;
}

struct Fixture : ::testing::Test {
  void SetUp() override {
    Recompilations = 0;
    NestWhileCompiling = false;
    InnerValues.clear();
    Parser = std::make_unique<MathUtils::Parser>();
    Subject = Parser.get();
    Parser->AddVariable("x", &X);
    Parser->AddFunction("t", RecompileWhileArmed, false);
  }
  void TearDown() override { Subject = nullptr; }

  double X = 3;
  std::unique_ptr<MathUtils::Parser> Parser;
};

using ParserObject = Fixture;

TEST_F(ParserObject, FormulasCompiledUnderCallbacksAreFreedAtTheEnd) {
  Parser->AssignFormula("x + t(x)");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 6);
  // Twice under the callback: the parser's own formula and then one of
  // the heap are replaced while they run.
  for (int round = 0; round < 2; ++round) {
    Recompilations = 1;
    EXPECT_EQ(Parser->Evaluate(), round == 0 ? 6 : 7);
  }
  EXPECT_EQ(InnerValues, (std::vector<double>{7, 7}));
  EXPECT_EQ(Parser->Evaluate(), 7);
  Parser.reset();
}

TEST_F(ParserObject, FormulasKeptForCallbacksAreReusedAfterThem) {
  Parser->AssignFormula("x + t(x)");
  for (int round = 0; round < 3; ++round) {
    Recompilations = 1;
    EXPECT_EQ(Parser->Evaluate(), 6) << round;
    EXPECT_EQ(Parser->Evaluate(), 7) << round;
    // A compilation outside callbacks releases what they left.
    Parser->AssignFormula("x * 2 + t(x)");
    EXPECT_EQ(Parser->Evaluate(), 9) << round;
    Parser->AssignFormula("x + t(x)");
    EXPECT_EQ(Parser->Evaluate(), 6) << round;
  }
  EXPECT_EQ(InnerValues, (std::vector<double>{7, 7, 7}));
}

// A compilation under a callback that evaluates the parser again while it
// compiles: the inner compilation installs its formula first, then the
// outer one replaces it while the callback still runs.
TEST_F(ParserObject, CompilationWithinACompilationUnderACallback) {
  Parser->AddFunction("u", AssignNestingFormula, false);
  Parser->AddFunction("r", EvaluateWhileCompiling);
  Parser->AssignFormula("x + u(x)");
  EXPECT_EQ(Parser->Evaluate(), 6);
  Recompilations = 1;
  NestWhileCompiling = true;
  EXPECT_EQ(Parser->Evaluate(), 6);
  EXPECT_EQ(InnerValues, (std::vector<double>{4, 4}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 4);
}

// The compilation under way reads the text it began with; the next
// evaluation compiles the last one assigned.
TEST_F(ParserObject, TwoAssignmentsWhileCompiling) {
  Parser->AddFunction("r", AssignTwiceWhileCompiling);
  Parser->AssignFormula("x + r(1)");
  NestWhileCompiling = true;
  EXPECT_EQ(Parser->Evaluate(), 4);
  EXPECT_EQ(Parser->GetFormula(), "x * 100");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 300);
}

TEST_F(ParserObject, AccessorsBeforeAnyFormulaAndOffTheMachineCode) {
  EXPECT_TRUE(Parser->GetBytecode().empty());
  EXPECT_TRUE(Parser->MachineCodeBytes().empty());
  Parser->SetMachineCode(false);
  Parser->AssignFormula("x * 2");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 6);
  EXPECT_FALSE(Parser->GetBytecode().empty());
  EXPECT_TRUE(Parser->MachineCodeBytes().empty()) << "interpreted only";
}

// A callable object kept by the parser, then a plain function of a new
// name, defined again: each is called as last defined.
TEST_F(ParserObject, DefinitionsAfterACallableObject) {
  Parser->AddFunction(
      "scaled", [factor = 2.5](double v) { return v * factor; }, false);
  Parser->AddFunction(
      "halved", +[](double v) { return v / 2; }, false);
  Parser->AssignFormula("scaled(x) + halved(x)");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 7.5 + 1.5);
  Parser->AddFunction(
      "halved", +[](double v) { return v / 4; }, false);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parser->Evaluate(), 7.5 + 0.75);
}

}  // namespace
