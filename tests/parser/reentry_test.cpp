// Callbacks that touch the parser evaluating them: they assign a formula,
// change a definition or evaluate again while a compilation or an
// evaluation is under way. The evaluation in progress finishes on the
// formula it started with, the next one compiles what the callback left,
// and every tier gives the same values (the suite runs once with machine
// code from the first later evaluation on, once interpreted only).
#include <memory>
#include <stdexcept>
#include <vector>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;

// Callbacks are plain functions: they find their parser and their orders here.
Parser* Subject = nullptr;
bool Armed = false;
double Replacement = 5;
double InnerValue = 0;

// Evaluations before the callback acts: enough for the machine code to run
// where the suite makes it from the first later evaluation on.
constexpr int Warmup = 5;

double AssignWhenArmed(double value) {
  if (Armed) {
    Armed = false;
    Subject->AssignFormula("x*100");
  }
  return value;
}

double RedefineAndEvaluateWhenArmed(double value) {
  if (Armed) {
    Armed = false;
    Subject->AddVariable("x", &Replacement);
    InnerValue = Subject->Evaluate();
  }
  return value;
}

double AssignAndThrowWhenArmed(double value) {
  if (Armed) {
    Armed = false;
    Subject->AssignFormula("x*100");
    throw std::runtime_error("thrown after an assignment");
  }
  return value;
}

double EvaluateAgainWhenArmed(double value) {
  if (Armed) {
    Armed = false;
    InnerValue = Subject->Evaluate();
  }
  return value;
}

class Reentry : public ::testing::Test {
 protected:
  void SetUp() override {
    Subject = &Parser;
    Armed = false;
    InnerValue = 0;
    Parser.AddVariable("x", &X);
  }
  void TearDown() override { Subject = nullptr; }

  // Evaluates until later evaluations run what the compiler made, each
  // giving expected.
  void WarmUp(double expected) {
    for (int i = 0; i < Warmup; ++i) ASSERT_EQ(Parser.Evaluate(), expected) << "evaluation " << i;
  }

  MathUtils::Parser Parser;
  double X = 3;
};

// The run in progress ends on the formula it began with; the next
// evaluation compiles the formula the callback assigned.
TEST_F(Reentry, AssignmentByACallbackTakesEffectAtTheNextEvaluation) {
  Parser.AddFunction("t", AssignWhenArmed, false);
  Parser.AssignFormula("x + t(x)");
  WarmUp(6);
  Armed = true;
  EXPECT_EQ(Parser.Evaluate(), 6);
  EXPECT_EQ(Parser.GetFormula(), "x*100");
  for (int i = 0; i < Warmup; ++i) EXPECT_EQ(Parser.Evaluate(), 300);
}

TEST_F(Reentry, DefinitionAndEvaluationByACallback) {
  Parser.AddFunction("t", RedefineAndEvaluateWhenArmed, false);
  Parser.AssignFormula("x + t(x)");
  WarmUp(6);
  Armed = true;
  EXPECT_EQ(Parser.Evaluate(), 6);
  EXPECT_EQ(InnerValue, 10) << "the inner evaluation compiles the new definition";
  for (int i = 0; i < Warmup; ++i) EXPECT_EQ(Parser.Evaluate(), 10);
}

TEST_F(Reentry, CallbackThatThrowsAfterAnAssignment) {
  Parser.AddFunction("t", AssignAndThrowWhenArmed, false);
  Parser.AssignFormula("x + t(x)");
  WarmUp(6);
  Armed = true;
  EXPECT_THROW(Parser.Evaluate(), std::runtime_error);
  for (int i = 0; i < Warmup; ++i) EXPECT_EQ(Parser.Evaluate(), 300);
}

// The inner evaluation runs on slots of its own: the outer one still holds
// x*2 = 6 in its slot when the callback returns.
TEST_F(Reentry, EvaluationByACallbackLeavesTheOuterSlotsAlone) {
  Parser.AddFunction("t", EvaluateAgainWhenArmed, false);
  Parser.AssignFormula("x*2 + (x + t(x))");
  WarmUp(12);
  for (int i = 0; i < Warmup; ++i) {
    Armed = true;
    EXPECT_EQ(Parser.Evaluate(), 12);
    EXPECT_EQ(InnerValue, 12);
  }
  // Deep enough that slots live in memory on every tier.
  Parser.AssignFormula(
      "x*2 + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + t(x))))))))))))))))");
  WarmUp(54);
  Armed = true;
  EXPECT_EQ(Parser.Evaluate(), 54);
  EXPECT_EQ(InnerValue, 54);
}

// An optimizable callback runs while the formula compiles; a definition it
// makes then must not be lost.
std::unique_ptr<double> OldX;
double NewX = 7;

double RedefineWhileCompiling(double value) {
  if (Armed) {
    Armed = false;
    Subject->AddVariable("x", &NewX);
  }
  return value;
}

TEST_F(Reentry, DefinitionMadeWhileCompilingForcesAnotherCompilation) {
  OldX = std::make_unique<double>(3);
  Parser.AddVariable("x", OldX.get());
  Parser.AddFunction("r", RedefineWhileCompiling);
  Parser.AssignFormula("x + r(1)");
  Armed = true;
  EXPECT_EQ(Parser.Evaluate(), 4) << "compiled with the x defined when the compilation began";
  OldX.reset();  // the sanitizers report any later read of it
  for (int i = 0; i < Warmup; ++i) EXPECT_EQ(Parser.Evaluate(), 8);
}

double AssignWhileCompiling(double value) {
  if (Armed) {
    Armed = false;
    Subject->AssignFormula("x - 1 + 0*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x");
    InnerValue = Subject->Evaluate();
  }
  return value;
}

// The compilation in progress goes on reading the text it began with, and
// the one the callback starts reads the new text.
TEST_F(Reentry, AssignmentAndEvaluationWhileCompiling) {
  Parser.AddFunction("r", AssignWhileCompiling);
  Parser.AssignFormula("x + r(1) + 0*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x");
  Armed = true;
  EXPECT_EQ(Parser.Evaluate(), 4);
  EXPECT_EQ(InnerValue, 2);
  for (int i = 0; i < Warmup; ++i) EXPECT_EQ(Parser.Evaluate(), 2);
}

}  // namespace
